// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/observed_mail_sender.h"

#include <chrono>

namespace moviletta::web {
namespace {

int64_t UnixMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ObservedMailSender::ObservedMailSender(std::unique_ptr<MailSender> inner, EventStream& stream,
                                       std::shared_ptr<std::atomic<uint64_t>> sends)
    : inner_(std::move(inner)), stream_(stream), sends_(std::move(sends)) {}

ObservedMailSender::~ObservedMailSender() {
  inner_.reset();
}

void ObservedMailSender::OnProgress(std::function<void(int32_t)> progress) {
  inner_->OnProgress(std::move(progress));
}

void ObservedMailSender::OnSendFailed(std::function<void(std::string)> send_failed) {
  inner_->OnSendFailed([this, send_failed = std::move(send_failed)](std::string explanation) {
    Result(false, explanation);
    if (send_failed) send_failed(std::move(explanation));
  });
}

void ObservedMailSender::OnSendSuccesful(std::function<void()> send_succesful) {
  inner_->OnSendSuccesful([this, send_succesful = std::move(send_succesful)] {
    Result(true, "");
    if (send_succesful) send_succesful();
  });
}

void ObservedMailSender::Result(bool sent, const std::string& explanation) {
  stream_.Publish("sendresult", {{"send", send_},
                                 {"label", label_},
                                 {"sent", sent},
                                 {"explanation", explanation},
                                 {"at", UnixMilliseconds()}});
}

void ObservedMailSender::SetListDelimiter(const std::string& delimiter) {
  inner_->SetListDelimiter(delimiter);
}
void ObservedMailSender::SetSmtpHost(const std::string& host) {
  inner_->SetSmtpHost(host);
}
void ObservedMailSender::SetSenderAddress(const std::string& address) {
  inner_->SetSenderAddress(address);
}
void ObservedMailSender::SetSmtpPassword(const std::string& password) {
  inner_->SetSmtpPassword(password);
}
void ObservedMailSender::SetRecipientAddress(const std::string& address) {
  inner_->SetRecipientAddress(address);
}
void ObservedMailSender::SetMailLabel(const std::string& label) {
  label_ = label;
  inner_->SetMailLabel(label);
}
void ObservedMailSender::SetMessageBody(const std::string& body) {
  inner_->SetMessageBody(body);
}
void ObservedMailSender::SetAttachmentList(const std::string& attachments) {
  inner_->SetAttachmentList(attachments);
}

void ObservedMailSender::Send() {
  send_ = ++*sends_;
  stream_.Publish("sendstart", {{"send", send_}, {"label", label_}, {"at", UnixMilliseconds()}});
  inner_->Send();
}

void ObservedMailSender::Disconnect() {
  inner_->Disconnect();
}
void ObservedMailSender::Reset() {
  inner_->Reset();
}

MailSenderFactory ObservedMailSenders(MailSenderFactory factory, EventStream& stream) {
  return [factory = std::move(factory), &stream,
          sends = std::make_shared<std::atomic<uint64_t>>(0)]() -> std::unique_ptr<MailSender> {
    return std::make_unique<ObservedMailSender>(factory(), stream, sends);
  };
}

}  // namespace moviletta::web
