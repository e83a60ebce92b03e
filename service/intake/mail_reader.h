// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace moviletta::service {

// One attached file of a mail, decoded.
struct MailAttachment {
  std::string name;  // its file name as the mail gives it, "" without one
  std::string type;  // its content type, lower case ("video/x-ms-wmv")
  std::string bytes;
};

// What a greeting's mail carries.
struct ReadMail {
  std::string message_id;  // without angle brackets; "" when the mail has none
  std::string subject;
  std::string text;  // the first text/plain part, decoded to UTF-8
  std::vector<MailAttachment> attachments;
};

struct MailLimits {
  std::size_t header_bytes = std::size_t{1} << 20;  // the mail's own header block
  int parts = 16;                                   // MIME parts in all
  int depth = 4;                                    // multiparts within multiparts
};

// Reads `mail` (RFC 5322 with MIME) through GMime. Throws RefusedMail, naming the limit or the
// fault, when it is not a mail or passes a limit. Any thread (GMime is set up once, on first use).
ReadMail ReadMailBytes(std::string_view mail, const MailLimits& limits = {});

}  // namespace moviletta::service
