// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "service/store/greetings.h"

namespace moviletta::service {

// What the body of a greeting's mail says: a message document (<MLMESSAGE>) or a mobile e-mail
// (a run of <Voxa:...> elements). Values come as the studio wrote them, unescaped; each is kept
// as text (invalid UTF-8 as "\xNN") with its line breaks and other control characters as spaces,
// so that none can reach a header line.
struct GreetingText {
  std::string kind;  // "greeting" or "mobile"
  std::string sender_name, sender_email, message, installation, version;
  std::vector<Recipient> recipients;  // an address that is not one is left out ("")
};

struct GreetingLimits {
  std::size_t recipients = 50;
  std::size_t name_bytes = 200;
  std::size_t address_bytes = 254;
  std::size_t message_bytes = 4000;
};

// Reads the body. Throws RefusedMail when it is neither kind, or a value passes a limit (the
// reason names the field).
GreetingText ReadGreetingText(std::string_view body, const GreetingLimits& limits = {});

// Whether `address` is an e-mail address a relay can take (local@domain.tld, no spaces, no
// markup, no separators).
bool IsMailAddress(std::string_view address);

}  // namespace moviletta::service
