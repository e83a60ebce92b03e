// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "service/intake/door_file.h"
#include "service/intake/greeting_text.h"
#include "service/intake/mail_reader.h"
#include "service/store/greetings.h"
#include "service/store/store.h"

namespace moviletta::service {

// How a mail handed over by the mail server ended, as its exit status says it.
struct IntakeOutcome {
  static constexpr int kTaken = 0;
  static constexpr int kNever = 65;  // EX_DATAERR: it can never be a greeting (kept in quarantine)
  static constexpr int kLater = 75;  // EX_TEMPFAIL: the mail server keeps it and tries again
  int status = kTaken;
  std::string reason;    // one line, for the mail server's log
  int64_t greeting = 0;  // taken (or taken before: the same mail handed over again)
};

struct IntakeLimits {
  std::size_t mail_bytes = kMailBytesLimit;
  double video_seconds = 600;
  MailLimits mail;
  GreetingLimits greeting;
};

// Takes greetings in from the mail drop: reads the mail, tells a greeting from a mobile e-mail,
// checks its video and snapshot by their content, and keeps the greeting (its files synced under
// `data/media/<token>`, then its records committed) with a job to make its video for every
// screen. The same mail handed over twice makes one greeting.
//
// Threads: one mail at a time per Intake (the `deliver` command and a node's IntakeDoor make one
// per mail).
class Intake {
 public:
  Intake(Greetings& greetings, std::filesystem::path data, Clock clock, IntakeLimits limits = {});

  // `mail` as the mail server hands it over; `envelope_recipient` the address it was for ("":
  // the only site, or the one `site` names).
  IntakeOutcome Deliver(std::string_view mail, const std::string& envelope_recipient,
                        const std::string& site = "");

 private:
  int64_t SiteFor(const std::string& envelope_recipient, const std::string& site);
  int64_t Keep(std::string_view mail, int64_t site);
  void KeepInQuarantine(std::string_view mail, const std::string& reason);

  Greetings& greetings_;
  const std::filesystem::path data_;
  const Clock clock_;
  const IntakeLimits limits_;
};

}  // namespace moviletta::service
