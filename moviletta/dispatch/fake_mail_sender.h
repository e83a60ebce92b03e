#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "moviletta/dispatch/mail_sender.h"

namespace moviletta {

// Records its settings and calls in order ("SmtpHost=...", "Send", "Disconnect") into a log
// shared with the test, raises the send's notifications on demand from a thread of its own, and
// counts the senders not yet released in `live`.
class FakeMailSender : public MailSender {
 public:
  struct Log {
    std::vector<std::string> calls;
    std::vector<FakeMailSender*> senders;  // every sender made, in order
    int live = 0;
  };

  explicit FakeMailSender(std::shared_ptr<Log> log) : log_(std::move(log)) {
    ++log_->live;
    log_->senders.push_back(this);
  }
  ~FakeMailSender() override;

  static MailSenderFactory Factory(std::shared_ptr<Log> log) {
    return [log] { return std::make_unique<FakeMailSender>(log); };
  }

  void RaiseProgress(int32_t percent);
  void RaiseSendFailed(const std::string& explanation);
  void RaiseSendSuccesful();

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
  void Send() override { Record("Send"); }
  void Disconnect() override { Record("Disconnect"); }
  void Reset() override { Record("Reset"); }

 private:
  void Record(std::string call) { log_->calls.push_back(std::move(call)); }

  std::shared_ptr<Log> log_;
  std::function<void(int32_t)> progress_;
  std::function<void(std::string)> failed_;
  std::function<void()> succesful_;
};

}  // namespace moviletta
