// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "moviletta/dispatch/mail_sender.h"

namespace moviletta {

// Records its settings and calls in order ("SmtpHost=...", "Send", "Disconnect") into a log
// shared with the test and into its own `calls`, fails the call named in the log's `fail_on`,
// raises the send's notifications on demand from a thread of its own, and counts the senders not
// yet released in `live`. Like the real sender it takes one Send.
class FakeMailSender : public MailSender {
 public:
  struct Log {
    std::vector<std::string> calls;
    std::vector<FakeMailSender*> senders;  // every sender made, in order
    int live = 0;
    std::string fail_on;
  };

  explicit FakeMailSender(std::shared_ptr<Log> log) : log_(std::move(log)) {
    ++log_->live;
    log_->senders.push_back(this);
  }
  ~FakeMailSender() override;

  static MailSenderFactory Factory(std::shared_ptr<Log> log) {
    return [log] { return std::make_unique<FakeMailSender>(log); };
  }

  // The mail as the sender put it on its way when Send was called: the server, the envelope, the
  // label, the body and every attached file with its name and bytes at that moment.
  struct Mail {
    std::string server;
    std::string from;
    std::string password;
    std::string to;
    std::string label;
    std::string body;
    std::vector<std::pair<std::string, std::string>> files;  // file name, bytes
  };
  std::optional<Mail> sent;

  void RaiseProgress(int32_t percent);
  void RaiseSendFailed(const std::string& explanation);
  void RaiseSendSuccesful();
  // The value of this sender's setting `name` ("MailLabel"), empty when it was not set.
  std::string Setting(const std::string& name) const;

  std::vector<std::string> calls;

  void OnProgress(std::function<void(int32_t)> progress) override { progress_ = progress; }
  void OnSendFailed(std::function<void(std::string)> failed) override { failed_ = failed; }
  void OnSendSuccesful(std::function<void()> succesful) override { succesful_ = succesful; }
  void SetListDelimiter(const std::string& v) override { Record("ListDelimiter=" + v); }
  void SetSmtpHost(const std::string& v) override { Record("SmtpHost=" + v); }
  void SetSenderAddress(const std::string& v) override { Record("SenderAddress=" + v); }
  void SetSmtpPassword(const std::string& v) override { Record("SmtpPassword=" + v); }
  void SetRecipientAddress(const std::string& v) override { Record("RecipientAddress=" + v); }
  void SetMailLabel(const std::string& v) override { Record("MailLabel=" + v); }
  void SetMessageBody(const std::string& v) override { Record("MessageBody=" + v); }
  void SetAttachmentList(const std::string& v) override { Record("AttachmentList=" + v); }
  void Send() override;
  void Disconnect() override { Record("Disconnect"); }
  void Reset() override { Record("Reset"); }

 private:
  void Record(std::string call);

  std::shared_ptr<Log> log_;
  std::function<void(int32_t)> progress_;
  std::function<void(std::string)> failed_;
  std::function<void()> succesful_;
};

}  // namespace moviletta
