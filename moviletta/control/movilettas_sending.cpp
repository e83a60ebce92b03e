// Sending a greeting or a mobile e-mail: the message documents, the mail and its outcome.
#include <algorithm>
#include <chrono>

#include "moviletta/common/constants.h"
#include "moviletta/control/movilettas.h"
#include "moviletta/dispatch/mobile_body.h"
#include "moviletta/server/message_xml.h"
#include "moviletta/server/xml_text.h"
#include "moviletta/utils/trap.h"

namespace moviletta {
namespace {
constexpr const char* kGreetingLabel = "MovilettaStudio";
}

Variant Movilettas::SetXMLNode(Variant& sNodeName, Variant& sNodeValue) {
  return Variant(XmlLeaf(sNodeName.ToText(), sNodeValue.ToText()));
}

Variant Movilettas::GenerateMessageXML(int32_t lUserID, const std::string& sSenderName,
                                       const std::string& sSenderEmail,
                                       const std::string& sRecipList, const std::string& sMsg,
                                       const std::string& sPublish, int32_t lSiteSettingID) {
  Variant document;
  Trap trap(reporter_, "GenerateMessageXML");
  trap.Run([&] {
    const MessageContext context{identity_.ComputeInstallationID(), Identity::GetClientVersion(),
                                 module_.ClientSettings.CONVERTOR, m_SkinID};
    document = BuildMessageXml(lUserID, sSenderName, sSenderEmail, sRecipList, sMsg, sPublish,
                               lSiteSettingID, context, trap.section);
  });
  return document;
}

void Movilettas::SendGreeting(int32_t lUserID, const std::string& sSenderName,
                              const std::string& sSenderEmail, const std::string& sRecipList,
                              const std::string& sMsg, const std::string& sPublish,
                              int32_t lSiteSettingID) {
  // The guard comes before the new sender, so that a refused call never drops a running send.
  if (!AcceptInStoppedStatus(kRefuseSend)) return;
  Trap trap(reporter_, "SendGreeting");
  trap.Run([&] {
    NewMailSender();
    trap.section = "set email settings";
    SetStatus(STATUS_SENDING);
    components_.vbalProgressBar1->SetProgressValue(0);
    components_.vbalProgressBar1->SetProgressText("");
    const std::string attachments = AttachmentList();

    trap.section = "compress file";
    if (!CompressAndWait()) {
      NotSent("The greeting was not sent: the video could not be compressed.");
      StopVideo();
      return;
    }
    Wait(Variant(1));

    trap.section = "send file";
    const std::string body = GenerateMessageXML(lUserID, sSenderName, sSenderEmail, sRecipList,
                                                sMsg, sPublish, lSiteSettingID)
                                 .ToText();
    if (body.empty()) {
      NotSent("The greeting was not sent: its message could not be built.");
      StopVideo();
      return;
    }
    SendFile(kGreetingLabel, body, attachments);
    SetStatus(STATUS_STOPPED);
    StopVideo();
  });
}

void Movilettas::SendByEmail(const std::string& SenderName, const std::string& SenderEmail,
                             const std::string& RecipName, const std::string& MobilePhone,
                             const std::string& EmailList, const std::string& Msg) {
  Trap trap(reporter_, "SendByEmail");
  trap.Run([&] {
    NewMailSender();
    SetStatus(STATUS_SENDING);
    components_.vbalProgressBar1->SetProgressValue(0);
    components_.vbalProgressBar1->SetProgressText("");
    trap.section = "set email details";
    const std::string attachments = AttachmentList();

    trap.section = "compress file";
    if (!CompressAndWait()) {
      NotSent("The greeting was not sent: the video could not be compressed.");
      return;
    }
    Wait(Variant(1));

    trap.section = "send file";
    MobileContext context;
    context.skin_type = GetSkinType();
    context.skin_id = m_SkinID;
    context.installation_id = identity_.ComputeInstallationID();
    context.client_version = Identity::GetClientVersion();
    context.convertor = module_.ClientSettings.CONVERTOR;
    const std::string body =
        BuildMobileBody(SenderName, SenderEmail, RecipName, MobilePhone, EmailList, Msg, context);
    SendFile(MobileLabel(MobilePhone), body, attachments);
    SetStatus(STATUS_STOPPED);
  });
}

std::string Movilettas::AttachmentList() {
  const std::string output = skins_.GetOutputDirectory();
  return output + "Moviletta." + module_.ClientSettings.OUTPUT + ";" + output + "Moviletta.jpg";
}

bool Movilettas::CompressAndWait() {
  components_.picGeneral->SetVisible(true);
  m_CompressionDone = false;
  host_.ProcessPendingEvents();
  CompressFile();
  while (!m_CompressionDone && !m_CompressionFailed)
    host_.ProcessPendingEvents(std::chrono::milliseconds(50));
  return m_CompressionDone;
}

void Movilettas::NotSent(const std::string& why) {
  host_.MessageBox(why);
  poSendMail.reset();
  components_.picGeneral->SetVisible(false);
  SetStatus(STATUS_STOPPED);
}

void Movilettas::SendFile(const std::string& label, const std::string& body,
                          const std::string& attachments) {
  Trap trap(reporter_, "SendFile");
  trap.Run([&] {
    if (!poSendMail) throw Error(err::kObjectNotSet);
    MailSender& sender = *poSendMail;
    const ClientSettings& settings = module_.ClientSettings;
    trap.section = "1";
    sender.SetListDelimiter(";");
    sender.SetSmtpHost(settings.SMTPHOST);
    trap.section = "2";
    sender.SetSenderAddress(settings.SENDFROM);
    sender.SetSmtpPassword(settings.SMTPPWD);
    sender.SetRecipientAddress(settings.SENDTO);
    trap.section = "3";
    sender.SetMailLabel(label);
    sender.SetMessageBody(body);
    trap.section = "4";
    sender.SetAttachmentList(attachments);
    sender.Send();
    sending_.push_back(&sender);
  });
}

void Movilettas::NewMailSender() {
  std::unique_ptr<MailSender> sender = components_.CreateMailSender();
  if (!sender) throw Error(err::kObjectNotSet, "no mail sender");
  MailSender* raw = sender.get();
  const NotificationPoster poster = Notifications();
  sender->OnProgress([poster, this, raw](int32_t percent) {
    poster.Post([this, raw, percent] { poSendMail_Progress(raw, percent); });
  });
  sender->OnSendFailed([poster, this, raw](std::string explanation) {
    poster.Post([this, raw, explanation] { poSendMail_SendFailed(raw, explanation); });
  });
  sender->OnSendSuccesful(
      [poster, this, raw] { poster.Post([this, raw] { poSendMail_SendSuccesful(raw); }); });
  if (poSendMail && std::ranges::count(sending_, poSendMail.get()) > 0)
    replaced_senders_.push_back(std::move(poSendMail));  // its result still comes and is handled
  poSendMail = std::move(sender);
}

void Movilettas::EndSend(MailSender* sender) {
  if (std::ranges::count(sending_, sender) == 0) return;  // not a send of ours, or ended already
  std::erase(sending_, sender);
  sender->Disconnect();
  sender->Reset();
  if (poSendMail.get() == sender)
    poSendMail.reset();
  else
    std::erase_if(replaced_senders_, [&](const auto& s) { return s.get() == sender; });
}

void Movilettas::poSendMail_Progress(MailSender*, int32_t PercentComplete) {
  components_.vbalProgressBar1->SetProgressValue(PercentComplete);
  components_.vbalProgressBar1->SetProgressText("Sending...  " + std::to_string(PercentComplete) +
                                                "%");
}

void Movilettas::poSendMail_SendFailed(MailSender* sender, const std::string& Explanation) {
  host_.MessageBox(Explanation);
  EndSend(sender);
  components_.picGeneral->SetVisible(false);
}

void Movilettas::poSendMail_SendSuccesful(MailSender* sender) {
  EndSend(sender);
  components_.picGeneral->SetVisible(false);
}

}  // namespace moviletta
