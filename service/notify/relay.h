// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <string>

#include "service/notify/outgoing_mail.h"

namespace moviletta::service {

// Where the service's mails go out: the site's outgoing SMTP relay.
class Relay {
 public:
  virtual ~Relay() = default;
  // Hands `mail` to the relay; returns once the relay has accepted it. Throws moviletta::Error
  // when it did not (a passing failure: the job tries again later).
  virtual void Send(const OutgoingMail& mail) = 0;
};

// A relay on libcurl's SMTP: "smtp://HOST:PORT" (STARTTLS when offered) or "smtps://...".
// Any thread; one mail per call.
class SmtpRelay : public Relay {
 public:
  explicit SmtpRelay(std::string url, std::chrono::seconds timeout = std::chrono::seconds(60))
      : url_(std::move(url)), timeout_(timeout) {}
  void Send(const OutgoingMail& mail) override;

 private:
  const std::string url_;
  const std::chrono::seconds timeout_;
};

}  // namespace moviletta::service
