// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/sends.h"

#include <algorithm>
#include <filesystem>

#include "moviletta/common/file_write.h"
#include "moviletta/reporting/trap.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNotKept = "The greeting is larger than the outbox holds and was not kept.";
constexpr const char* kNotStarted = "The greeting was not sent: the mail could not be started.";
constexpr const char* kStoppedFirst =
    "The greeting was not sent: the studio stopped before its mail started.";
constexpr const char* kCancelled = "Sending was cancelled.";

}  // namespace

std::shared_ptr<OutgoingSend> Sends::Start(const std::function<void(uint64_t, MailSender&)>& wire) {
  std::unique_ptr<MailSender> sender = components_.CreateMailSender();
  if (!sender) throw Error(err::kObjectNotSet, "no mail sender");
  auto send = std::make_shared<OutgoingSend>();
  send->id = ++last_id_;
  send->folder = app_directory_ + "/.sends/" + std::to_string(send->id) + "/";
  std::error_code ec;
  fs::remove_all(send->folder, ec);
  MakeOwnFolder(app_directory_ + "/.sends", "Moviletta");
  MakeOwnFolder(send->folder, "Moviletta");
  wire(send->id, *sender);
  send->sender = std::move(sender);
  latest_sender_ = send->sender.get();
  sends_.emplace(send->id, send);
  return send;
}

OutgoingSend* Sends::Find(uint64_t id) const {
  const auto found = sends_.find(id);
  return found == sends_.end() ? nullptr : found->second.get();
}

std::vector<std::shared_ptr<OutgoingSend>> Sends::UnderWay() const {
  std::vector<std::shared_ptr<OutgoingSend>> under_way;
  for (const auto& [id, send] : sends_) under_way.push_back(send);
  return under_way;
}

std::vector<std::string> Sends::Freeze(OutgoingSend& send, const std::string& snapshot,
                                       const std::string& output_name) {
  std::error_code ec;
  fs::copy_file(snapshot, send.folder + "Moviletta.jpg", fs::copy_options::overwrite_existing,
                ec);  // a missing snapshot fails the mail, which tells the user
  return {send.folder + output_name, send.folder + "Moviletta.jpg"};
}

void Sends::Mail(OutgoingSend& send, const OutboxMail& mail) {
  if (send.cancelled) return;
  if (send.outbox_entry.empty()) {
    const uint64_t bytes = Outbox::SizeOf(mail);
    if (!outbox_.Fits(bytes))
      send.unkept = true;
    else
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

void Sends::SettleUnstarted(uint64_t id, const std::string& why) {
  const OutgoingSend* send = Find(id);
  if (send && send->cancelled) return Settle(id, {SendOutcome::Kind::kCancelled, kCancelled});
  Settle(id, {SendOutcome::Kind::kNotStarted, !why.empty()            ? why
                                              : host_.StopRequested() ? kStoppedFirst
                                                                      : kNotStarted});
}

bool Sends::CancelLatest() {
  const auto latest = std::ranges::find_if(
      sends_, [this](const auto& entry) { return entry.second->sender.get() == latest_sender_; });
  if (latest == sends_.end()) return false;
  OutgoingSend& send = *latest->second;
  send.cancelled = true;
  if (send.mailing) Settle(send.id, {SendOutcome::Kind::kCancelled, kCancelled});
  return true;
}

void Sends::Settle(uint64_t id, const SendOutcome& outcome) {
  OutgoingSend* send = Find(id);
  if (!send) return;
  send->mailing = false;  // its one outcome
  const std::string entry = send->outbox_entry;
  if (!entry.empty())
    Trap(reporter_, "Outbox").Run([&] {
      if (outcome.kind == SendOutcome::Kind::kSent ||
          (outcome.kind == SendOutcome::Kind::kCancelled && !send->resent))
        outbox_.Discard(entry);
      else
        outbox_.MarkFailed(entry, outcome.why);
    });
  if (outcome.kind == SendOutcome::Kind::kFailed && send->unkept)
    host_.MessageBox(outcome.why + " " + kNotKept);
  else if (outcome.kind == SendOutcome::Kind::kFailed ||
           outcome.kind == SendOutcome::Kind::kNotStarted)
    host_.MessageBox(outcome.why);
  // The box was a yield: the send may have ended inside it.
  send = Find(id);
  const bool latest = send && send->sender.get() == latest_sender_;
  End(id);
  if (latest || sends_.empty()) components_.picGeneral->SetVisible(false);
}

void Sends::EndAll() {
  for (const auto& send : UnderWay()) End(send->id);
}

void Sends::End(uint64_t id) {
  const auto found = sends_.find(id);
  if (found == sends_.end()) return;
  const std::shared_ptr<OutgoingSend> send = found->second;
  sends_.erase(found);
  if (latest_sender_ == send->sender.get()) latest_sender_ = nullptr;
  std::error_code ec;
  fs::remove_all(send->folder, ec);
  MailSender& sender = *send->sender;
  sender.Disconnect();
  sender.Reset();
}

}  // namespace moviletta
