// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "moviletta/common/shared_callback.h"
#include "moviletta/curl/line.h"
#include "moviletta/dispatch/mail_sender.h"

namespace moviletta {

struct SmtpOptions {
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds response_timeout{30000};  // for every reply of the server
  // With a password the connection must be encrypted (STARTTLS), except to a mail server on
  // this machine while this holds.
  bool trust_loopback = true;
};

// A mail sender on libcurl's SMTP and MIME support: the label as the Subject (RFC 2047 where it
// is not plain ASCII), the body as a quoted-printable text part, every file of the attachment
// list base64-encoded with its name and content type, AUTH as the sender address when a password
// is set, STARTTLS when the server offers it (and required before a password goes out, unless
// the server is on this machine). No setting can add a header line or an SMTP
// command: line breaks in the label become spaces, and addresses or hosts carrying them are
// refused with SendFailed.
//
// Threads: see MailSender. The send runs on the sender's own thread; Disconnect and the
// destructor cut a send in progress short (its connection is shut down at once, whatever it
// waits for) and join it. Whatever fails on that thread, a listener that throws included, ends
// the send with SendFailed.
class CurlMailSender : public MailSender {
 public:
  explicit CurlMailSender(SmtpOptions options = {});
  ~CurlMailSender() override;

  void OnProgress(std::function<void(int32_t)> progress) override;
  void OnSendFailed(std::function<void(std::string)> send_failed) override;
  void OnSendSuccesful(std::function<void()> send_succesful) override;
  void SetListDelimiter(const std::string& delimiter) override { delimiter_ = delimiter; }
  void SetSmtpHost(const std::string& host) override { host_ = host; }
  void SetSenderAddress(const std::string& address) override { from_ = address; }
  void SetSmtpPassword(const std::string& password) override { password_ = password; }
  void SetRecipientAddress(const std::string& address) override { to_ = address; }
  void SetMailLabel(const std::string& label) override { label_ = label; }
  void SetMessageBody(const std::string& body) override { body_ = body; }
  void SetAttachmentList(const std::string& attachments) override { attachments_ = attachments; }
  // Throws Error when a send runs already.
  void Send() override;
  void Disconnect() override;
  void Reset() override;

  // The Subject header value for a label: plain printable ASCII that fits one line as it is,
  // anything else as RFC 2047 encoded words, one per folded line (RFC 5322), so that any label
  // arrives whole; line breaks and other control characters become spaces.
  static std::string SubjectFor(const std::string& label);

 private:
  void Run();
  // Ends the running send: no result is told, and its connection is shut down.
  void Cut();

  const SmtpOptions options_;
  std::string delimiter_ = ";";
  std::string host_;
  std::string from_;
  std::string password_;
  std::string to_;
  std::string label_;
  std::string body_;
  std::string attachments_;

  SharedCallback<void(int32_t)> progress_;
  SharedCallback<void(std::string)> failed_;
  SharedCallback<void()> succesful_;
  std::atomic<bool> cancel_{false};
  curl::Line line_;  // the running send's connection, which Disconnect cuts
  std::thread worker_;
};

MailSenderFactory CurlMailSenderFactory(SmtpOptions options = {});

}  // namespace moviletta
