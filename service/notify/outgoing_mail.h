// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace moviletta::service {

// One mail the service sends: to a recipient, a sender's copy or notice, a reply.
struct OutgoingMail {
  std::string from_name, from_address;
  std::string to_name, to_address;
  std::string subject;
  // Without angle brackets. The same mail sent again carries the same one, so that a retry after
  // a lost answer is known as the same mail.
  std::string message_id;
  std::string text;  // the plain-text part
  std::string html;  // the HTML part; "" for a plain-text mail
  // A JPEG shown in the HTML part as "cid:poster@moviletta"; "" for none.
  std::string poster;
};

// The mail as RFC 5322 text with MIME (CRLF line ends): multipart/related of the alternative
// parts and the poster, or one text part. Names and subjects are encoded where they are not
// ASCII; no value can add a header line. Any thread.
std::string ComposeMail(const OutgoingMail& mail);

}  // namespace moviletta::service
