// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "host/studio/event_stream.h"
#include "moviletta/dispatch/mail_sender.h"

namespace moviletta::web {

// A mail sender that tells the page how each of its sends goes, beside the control's own
// notifications: "sendstart" {"send", "label", "at"} when Send is called and "sendresult" {"send",
// "label", "sent", "explanation", "at"} just before the control hears the result ("at": the
// wall clock in milliseconds since 1970, so that a page loaded later can tell an old result from
// a new one). Sends are numbered
// from 1 across the senders of one factory. Everything else passes to the sender it wraps.
// Threads: as MailSender; "sendresult" is published on the sender's thread.
class ObservedMailSender : public MailSender {
 public:
  ObservedMailSender(std::unique_ptr<MailSender> inner, EventStream& stream,
                     std::shared_ptr<std::atomic<uint64_t>> sends);
  // Destroys the wrapped sender (joining its worker, which may still report) first.
  ~ObservedMailSender() override;

  void OnProgress(std::function<void(int32_t)> progress) override;
  void OnSendFailed(std::function<void(std::string)> send_failed) override;
  void OnSendSuccesful(std::function<void()> send_succesful) override;
  void SetListDelimiter(const std::string& delimiter) override;
  void SetSmtpHost(const std::string& host) override;
  void SetSenderAddress(const std::string& address) override;
  void SetSmtpPassword(const std::string& password) override;
  void SetRecipientAddress(const std::string& address) override;
  void SetMailLabel(const std::string& label) override;
  void SetMessageBody(const std::string& body) override;
  void SetAttachmentList(const std::string& attachments) override;
  void Send() override;
  void Disconnect() override;
  void Reset() override;

 private:
  void Result(bool sent, const std::string& explanation);

  std::unique_ptr<MailSender> inner_;
  EventStream& stream_;
  std::shared_ptr<std::atomic<uint64_t>> sends_;
  std::string label_;
  uint64_t send_ = 0;  // set by Send, before the sender's thread can report
};

// Wraps every sender `factory` makes; `stream` must outlive them.
MailSenderFactory ObservedMailSenders(MailSenderFactory factory, EventStream& stream);

}  // namespace moviletta::web
