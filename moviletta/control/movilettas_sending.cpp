// Sending a greeting or a mobile e-mail: the message documents, the mail and its outcome.
#include <chrono>
#include <filesystem>

#include "moviletta/common/constants.h"
#include "moviletta/control/movilettas_impl.h"
#include "moviletta/dispatch/mobile_body.h"
#include "moviletta/reporting/trap.h"
#include "moviletta/server/message_xml.h"
#include "moviletta/xml/xml_text.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;

constexpr const char* kGreetingLabel = "MovilettaStudio";
constexpr const char* kNotCompressed =
    "The greeting was not sent: the video could not be compressed.";
constexpr const char* kNotKept = "The greeting is larger than the outbox holds and was not kept.";
constexpr const char* kNotStarted = "The greeting was not sent: the mail could not be started.";
constexpr const char* kStoppedFirst =
    "The greeting was not sent: the studio stopped before its mail started.";

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
  trap.Run([&] {
    const MessageContext context{identity_.ComputeInstallationID(), Identity::GetClientVersion(),
                                 module_.ClientSettings.CONVERTOR, m_SkinID};
    document = BuildMessageXml(lUserID, sSenderName, sSenderEmail, sRecipList, sMsg, sPublish,
                               lSiteSettingID, context, trap.section);
  });
  return document;
}

void MovilettasImpl::RunSend(Trap& trap, const std::function<void(OutgoingSend&)>& body) {
  std::shared_ptr<OutgoingSend> send;
  const auto settle = [&] {
    if (send && !send->mailing && sends_.contains(send->id)) DropUnsent(send->id, Unstarted());
  };
  bool completed = false;
  try {
    completed = trap.Run([&] {
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
  RunSend(trap, [&](OutgoingSend& send) {
    trap.section = "set email settings";
    SetStatus(STATUS_SENDING);
    components_.vbalProgressBar1->SetProgressValue(0);
    components_.vbalProgressBar1->SetProgressText("");
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
    SendFile(send, {kGreetingLabel, sRecipList, body, RouteNow(), attachments, sMsg});
    if (!send.mailing) DropUnsent(send.id, Unstarted());
    SetStatus(STATUS_STOPPED);
    StopVideo();
  });
}

void MovilettasImpl::SendByEmail(const std::string& SenderName, const std::string& SenderEmail,
                                 const std::string& RecipName, const std::string& MobilePhone,
                                 const std::string& EmailList, const std::string& Msg) {
  host_thread_.Check(__func__);
  Trap trap(reporter_, "SendByEmail");
  RunSend(trap, [&](OutgoingSend& send) {
    SetStatus(STATUS_SENDING);
    components_.vbalProgressBar1->SetProgressValue(0);
    components_.vbalProgressBar1->SetProgressText("");
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
    SendFile(send, {MobileLabel(MobilePhone), recipients, body, RouteNow(), attachments, Msg});
    if (!send.mailing) DropUnsent(send.id, Unstarted());
    SetStatus(STATUS_STOPPED);
  });
}

std::shared_ptr<OutgoingSend> MovilettasImpl::NewSend() {
  std::unique_ptr<MailSender> sender = components_.CreateMailSender();
  if (!sender) throw Error(err::kObjectNotSet, "no mail sender");
  auto send = std::make_shared<OutgoingSend>();
  send->id = ++last_send_;
  send->folder = skins_.GetAppDirectory() + "/.sends/" + std::to_string(send->id) + "/";
  std::error_code ec;
  fs::remove_all(send->folder, ec);
  if (!fs::create_directories(send->folder, ec))
    throw Error(err::kPathFileAccess, "cannot create " + send->folder, "Moviletta", ec.value());
  const NotificationPoster poster = Notifications();
  const uint64_t id = send->id;
  sender->OnProgress([poster, this, id](int32_t percent) {
    poster.Post([this, id, percent] { poSendMail_Progress(id, percent); });
  });
  sender->OnSendFailed([poster, this, id](std::string explanation) {
    poster.Post([this, id, explanation] { poSendMail_SendFailed(id, explanation); });
  });
  sender->OnSendSuccesful(
      [poster, this, id] { poster.Post([this, id] { poSendMail_SendSuccesful(id); }); });
  send->sender = std::move(sender);
  poSendMail = send->sender.get();
  sends_.emplace(send->id, send);
  return send;
}

std::vector<std::string> MovilettasImpl::AttachmentList(OutgoingSend& send) {
  const std::string snapshot = skins_.GetOutputDirectory() + "Moviletta.jpg";
  std::error_code ec;
  fs::copy_file(snapshot, send.folder + "Moviletta.jpg", fs::copy_options::overwrite_existing,
                ec);  // a missing snapshot fails the mail, which tells the user
  return {send.folder + "Moviletta." + module_.ClientSettings.OUTPUT,
          send.folder + "Moviletta.jpg"};
}

MailRoute MovilettasImpl::RouteNow() const {
  const ClientSettings& settings = module_.ClientSettings;
  return {settings.SMTPHOST, settings.SENDFROM, settings.SMTPPWD, settings.SENDTO};
}

bool MovilettasImpl::CompressAndWait(OutgoingSend& send) {
  components_.picGeneral->SetVisible(true);
  host_.ProcessPendingEvents();
  send.job = CompressFile();
  while (!send.job->ended() && !host_.StopRequested())
    host_.ProcessPendingEvents(std::chrono::milliseconds(50));
  return send.job->done;
}

void MovilettasImpl::DropUnsent(uint64_t id, const std::string& why) {
  if (const auto found = sends_.find(id);
      found != sends_.end() && !found->second->outbox_entry.empty())
    Trap(reporter_, "Outbox").Run([&] { outbox_.MarkFailed(found->second->outbox_entry, why); });
  host_.MessageBox(why);
  CloseSend(id);
}

void MovilettasImpl::NotSent(uint64_t id, const std::string& why) {
  DropUnsent(id, why);
  SetStatus(STATUS_STOPPED);
}

const char* MovilettasImpl::Unstarted() const {
  return host_.StopRequested() ? kStoppedFirst : kNotStarted;
}

void MovilettasImpl::SendFile(OutgoingSend& send, const OutboxMail& mail) {
  if (send.outbox_entry.empty()) KeepInOutbox(send, mail);
  if (host_.StopRequested()) return;  // the studio stops: no mail starts now
  Trap trap(reporter_, "SendFile");
  trap.Run([&] {
    MailSender& sender = *send.sender;
    trap.section = "1";
    sender.SetListDelimiter(";");
    sender.SetSmtpHost(mail.route.server);
    trap.section = "2";
    sender.SetSenderAddress(mail.route.from);
    sender.SetSmtpPassword(mail.route.password);
    sender.SetRecipientAddress(mail.route.to);
    trap.section = "3";
    sender.SetMailLabel(mail.label);
    sender.SetMessageBody(mail.body);
    trap.section = "4";
    std::string attachments;
    for (const std::string& file : mail.files)
      attachments += (attachments.empty() ? "" : ";") + file;
    sender.SetAttachmentList(attachments);
    sender.Send();
    send.mailing = true;
  });
}

void MovilettasImpl::KeepInOutbox(OutgoingSend& send, const OutboxMail& mail) {
  const uint64_t bytes = Outbox::SizeOf(mail);
  if (!outbox_.Fits(bytes)) {
    send.unkept = true;
    return;
  }
  Trap(reporter_, "Outbox").Run([&] {
    for (const OutboxEntry& old : outbox_.EntriesToDrop(bytes)) {
      host_.MessageBox("The outbox is full: the greeting \"" + old.mail.label + "\" to " +
                       old.mail.recipients + ", not sent, is removed to make room.");
      // The box was a yield: the page may have sent that greeting again meanwhile.
      const OutboxEntry* now = outbox_.Find(old.id);
      if (now && !now->sending) outbox_.Discard(old.id);
    }
    send.outbox_entry = outbox_.Add(mail);
  });
}

void MovilettasImpl::EndSend(uint64_t id) {
  const auto found = sends_.find(id);
  if (found == sends_.end()) return;
  const std::shared_ptr<OutgoingSend> send = found->second;
  sends_.erase(found);
  if (poSendMail == send->sender.get()) poSendMail = nullptr;
  std::error_code ec;
  fs::remove_all(send->folder, ec);
  MailSender& sender = *send->sender;
  sender.Disconnect();
  sender.Reset();
}

void MovilettasImpl::CloseSend(uint64_t id) {
  const auto found = sends_.find(id);
  const bool latest = found != sends_.end() && found->second->sender.get() == poSendMail;
  EndSend(id);
  if (latest || sends_.empty()) components_.picGeneral->SetVisible(false);
}

void MovilettasImpl::poSendMail_Progress(uint64_t id, int32_t PercentComplete) {
  host_thread_.Check(__func__);
  const auto found = sends_.find(id);
  // Only the latest send drives the bar.
  if (found == sends_.end() || found->second->sender.get() != poSendMail) return;
  components_.vbalProgressBar1->SetProgressValue(PercentComplete);
  components_.vbalProgressBar1->SetProgressText("Sending...  " + std::to_string(PercentComplete) +
                                                "%");
}

void MovilettasImpl::poSendMail_SendFailed(uint64_t id, const std::string& Explanation) {
  host_thread_.Check(__func__);
  const auto found = sends_.find(id);
  if (found == sends_.end() || !found->second->mailing) return;
  found->second->mailing = false;  // its one result
  if (!found->second->outbox_entry.empty())
    Trap(reporter_, "Outbox").Run([&] {
      outbox_.MarkFailed(found->second->outbox_entry, Explanation);
    });
  host_.MessageBox(found->second->unkept ? Explanation + " " + kNotKept : Explanation);
  CloseSend(id);
}

void MovilettasImpl::poSendMail_SendSuccesful(uint64_t id) {
  host_thread_.Check(__func__);
  const auto found = sends_.find(id);
  if (found == sends_.end() || !found->second->mailing) return;
  if (!found->second->outbox_entry.empty())
    Trap(reporter_, "Outbox").Run([&] { outbox_.Discard(found->second->outbox_entry); });
  CloseSend(id);
}

}  // namespace moviletta
