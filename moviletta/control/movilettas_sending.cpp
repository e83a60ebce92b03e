// SPDX-License-Identifier: GPL-3.0-or-later
// Sending a greeting or a mobile e-mail: the message documents, the mail and its outcome.
#include <chrono>

#include "moviletta/common/constants.h"
#include "moviletta/control/movilettas_impl.h"
#include "moviletta/dispatch/mobile_body.h"
#include "moviletta/reporting/trap.h"
#include "moviletta/server/message_xml.h"
#include "moviletta/xml/xml_text.h"

namespace moviletta {
namespace {

constexpr const char* kGreetingLabel = "MovilettaStudio";
constexpr const char* kNotCompressed =
    "The greeting was not sent: the video could not be compressed.";

}  // namespace

Variant MovilettasImpl::SetXMLNode(const Variant& sNodeName, const Variant& sNodeValue) {
  host_thread_.Check(__func__);
  return Variant(XmlLeaf(sNodeName.ToText(), sNodeValue.ToText()));
}

Variant MovilettasImpl::GenerateMessageXML(int32_t lUserID, const std::string& sSenderName,
                                           const std::string& sSenderEmail,
                                           const std::string& sRecipList, const std::string& sMsg,
                                           const std::string& sPublish, int32_t lSiteSettingID) {
  host_thread_.Check(__func__);
  Variant document;
  Trap trap(reporter_, "GenerateMessageXML");
  trap.Run([&]() REQUIRES(host_thread_) {
    const MessageContext context{identity_.ComputeInstallationID(), Identity::GetClientVersion(),
                                 module_.ClientSettings.CONVERTOR, m_SkinID};
    document = BuildMessageXml(lUserID, sSenderName, sSenderEmail, sRecipList, sMsg, sPublish,
                               lSiteSettingID, context, trap.section);
  });
  return document;
}

void MovilettasImpl::RunSend(Trap& trap, const std::function<void(OutgoingSend&)>& body) {
  std::shared_ptr<OutgoingSend> send;
  const auto settle = [&]() REQUIRES(host_thread_) {
    if (send && !send->mailing && sends_.Find(send->id)) sends_.SettleUnstarted(send->id);
  };
  bool completed = false;
  try {
    completed = trap.Run([&]() REQUIRES(host_thread_) {
      send = NewSend();
      body(*send);
    });
  } catch (...) {
    settle();
    throw;
  }
  settle();
  // A send that failed on its way (a full disk) leaves the studio ready for the next one.
  if (!completed && m_Status == STATUS_SENDING) SetStatus(STATUS_STOPPED);
}

void MovilettasImpl::SendGreeting(int32_t lUserID, const std::string& sSenderName,
                                  const std::string& sSenderEmail, const std::string& sRecipList,
                                  const std::string& sMsg, const std::string& sPublish,
                                  int32_t lSiteSettingID) {
  host_thread_.Check(__func__);
  // The guard comes before the new sender, so that a refused call never drops a running send.
  if (!AcceptInStoppedStatus(kRefuseSend)) return;
  Trap trap(reporter_, "SendGreeting");
  RunSend(trap, [&](OutgoingSend& send) REQUIRES(host_thread_) {
    trap.section = "set email settings";
    BeginSending();
    const std::vector<std::string> attachments = AttachmentList(send);

    trap.section = "compress file";
    if (!CompressAndWait(send)) {
      NotSent(send.id, kNotCompressed);
      StopVideo();
      return;
    }
    Wait(Variant(1));

    trap.section = "send file";
    const std::string body = GenerateMessageXML(lUserID, sSenderName, sSenderEmail, sRecipList,
                                                sMsg, sPublish, lSiteSettingID)
                                 .ToText();
    if (body.empty()) {
      NotSent(send.id, "The greeting was not sent: its message could not be built.");
      StopVideo();
      return;
    }
    sends_.Mail(send, {kGreetingLabel, sRecipList, body, RouteNow(), attachments, sMsg});
    if (!send.mailing) sends_.SettleUnstarted(send.id);
    SetStatus(STATUS_STOPPED);
    StopVideo();
  });
}

void MovilettasImpl::SendByEmail(const std::string& SenderName, const std::string& SenderEmail,
                                 const std::string& RecipName, const std::string& MobilePhone,
                                 const std::string& EmailList, const std::string& Msg) {
  host_thread_.Check(__func__);
  Trap trap(reporter_, "SendByEmail");
  RunSend(trap, [&](OutgoingSend& send) REQUIRES(host_thread_) {
    BeginSending();
    trap.section = "set email details";
    const std::vector<std::string> attachments = AttachmentList(send);

    trap.section = "compress file";
    if (!CompressAndWait(send)) {
      NotSent(send.id, kNotCompressed);
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
    const std::string recipients =
        RecipName + " (" + MobilePhone + ")" + (EmailList.empty() ? "" : ", " + EmailList);
    sends_.Mail(send, {MobileLabel(MobilePhone), recipients, body, RouteNow(), attachments, Msg});
    if (!send.mailing) sends_.SettleUnstarted(send.id);
    SetStatus(STATUS_STOPPED);
  });
}

std::shared_ptr<OutgoingSend> MovilettasImpl::NewSend() {
  const NotificationPoster poster = Notifications();
  return sends_.Start([&](uint64_t id, MailSender& sender) {
    sender.OnProgress([poster, this, id](int32_t percent) {
      poster.Post([this, id, percent] { poSendMail_Progress(id, percent); });
    });
    sender.OnSendFailed([poster, this, id](std::string explanation) {
      poster.Post([this, id, explanation] { poSendMail_SendFailed(id, explanation); });
    });
    sender.OnSendSuccesful(
        [poster, this, id] { poster.Post([this, id] { poSendMail_SendSuccesful(id); }); });
  });
}

void MovilettasImpl::BeginSending() {
  SetStatus(STATUS_SENDING);
  components_.vbalProgressBar1->SetProgressValue(0);
  components_.vbalProgressBar1->SetProgressText("");
}

std::vector<std::string> MovilettasImpl::AttachmentList(OutgoingSend& send) {
  return sends_.Freeze(send, skins_.GetOutputDirectory() + "Moviletta.jpg",
                       "Moviletta." + module_.ClientSettings.OUTPUT);
}

MailRoute MovilettasImpl::RouteNow() const {
  const ClientSettings& settings = module_.ClientSettings;
  return {settings.SMTPHOST, settings.SENDFROM, settings.SMTPPWD, settings.SENDTO};
}

bool MovilettasImpl::CompressAndWait(OutgoingSend& send) {
  components_.picGeneral->SetVisible(true);
  host_.ProcessPendingEvents();
  send.job = CompressFile();
  while (!send.job->ended() && !send.cancelled && !host_.StopRequested())
    host_.ProcessPendingEvents(std::chrono::milliseconds(50));
  return send.job->done && !send.cancelled;
}

void MovilettasImpl::NotSent(uint64_t id, const std::string& why) {
  sends_.SettleUnstarted(id, why);
  SetStatus(STATUS_STOPPED);
}

bool MovilettasImpl::CancelSend() {
  host_thread_.Check(__func__);
  return sends_.CancelLatest();
}

void MovilettasImpl::poSendMail_Progress(uint64_t id, int32_t PercentComplete) {
  host_thread_.Check(__func__);
  const OutgoingSend* send = sends_.Find(id);
  // Only the latest send drives the bar.
  if (!send || send->sender.get() != sends_.latest_sender()) return;
  components_.vbalProgressBar1->SetProgressValue(PercentComplete);
  components_.vbalProgressBar1->SetProgressText("Sending...  " + std::to_string(PercentComplete) +
                                                "%");
}

void MovilettasImpl::poSendMail_SendFailed(uint64_t id, const std::string& Explanation) {
  host_thread_.Check(__func__);
  const OutgoingSend* send = sends_.Find(id);
  if (send && send->mailing) sends_.Settle(id, {SendOutcome::Kind::kFailed, Explanation});
}

void MovilettasImpl::poSendMail_SendSuccesful(uint64_t id) {
  host_thread_.Check(__func__);
  const OutgoingSend* send = sends_.Find(id);
  if (send && send->mailing) sends_.Settle(id, {SendOutcome::Kind::kSent, ""});
}

}  // namespace moviletta
