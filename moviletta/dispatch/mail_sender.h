// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace moviletta {

// One outgoing mail (poSendMail): the control gives it its settings, then calls Send.
//
// Threads: the control calls every member on the host thread; a failing call throws Error. The
// send runs on a thread of the sender's own, which tells the progress (0 to 100) and then exactly
// one of `send_failed` (with a readable explanation) or `send_succesful`. After the result the
// control calls Disconnect and then Reset, and releases the sender. Releasing a sender whose send
// still runs waits for that send to stop.
class MailSender {
 public:
  virtual ~MailSender() = default;

  virtual void OnProgress(std::function<void(int32_t percent)> progress) = 0;
  virtual void OnSendFailed(std::function<void(std::string explanation)> send_failed) = 0;
  virtual void OnSendSuccesful(std::function<void()> send_succesful) = 0;

  // Separates the entries of the attachment list.
  virtual void SetListDelimiter(const std::string& delimiter) = 0;
  // "host" or "host:port".
  virtual void SetSmtpHost(const std::string& host) = 0;
  virtual void SetSenderAddress(const std::string& address) = 0;
  // Empty: no authentication.
  virtual void SetSmtpPassword(const std::string& password) = 0;
  virtual void SetRecipientAddress(const std::string& address) = 0;
  virtual void SetMailLabel(const std::string& label) = 0;
  virtual void SetMessageBody(const std::string& body) = 0;
  // Paths of the files to attach, separated by the list delimiter.
  virtual void SetAttachmentList(const std::string& attachments) = 0;
  // Starts sending and returns while it goes on.
  virtual void Send() = 0;

  // The two operations that end a send: close the connection, then free what the send held.
  // Disconnect during a send ends it without a result (nothing is told) and returns once its
  // thread has.
  virtual void Disconnect() = 0;
  virtual void Reset() = 0;
};

// Makes a new sender; throws Error when none can be made.
using MailSenderFactory = std::function<std::unique_ptr<MailSender>()>;

}  // namespace moviletta
