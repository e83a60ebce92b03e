// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting service's reading of what reaches its mail drop: any bytes as a mail, and its
// body as a message document or a mobile e-mail. Either is refused with a reason or read within
// the limits, and no value read can carry a line break into a header of the mails it sends.
#include <string>

#include "service/intake/greeting_text.h"
#include "service/intake/mail_reader.h"
#include "service/intake/refused_mail.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void CheckText(const moviletta::service::GreetingText& text,
               const moviletta::service::GreetingLimits& limits) {
  using moviletta::service::IsMailAddress;
  FUZZ_CHECK(text.recipients.size() <= limits.recipients);
  for (const std::string* value : {&text.sender_name, &text.sender_email, &text.message})
    FUZZ_CHECK(value->find_first_of("\r\n") == std::string::npos);
  FUZZ_CHECK(text.sender_email.empty() || IsMailAddress(text.sender_email));
  for (const auto& r : text.recipients) {
    FUZZ_CHECK((r.name + r.cell + r.email).find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(r.email.empty() || IsMailAddress(r.email));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta::service;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const GreetingLimits limits{
      .recipients = 5, .name_bytes = 50, .address_bytes = 60, .message_bytes = 200};
  try {
    CheckText(ReadGreetingText(input, limits), limits);
  } catch (const RefusedMail& refused) {
    FUZZ_CHECK(*refused.what() != '\0');
  }
  try {
    const ReadMail mail = ReadMailBytes(input, {.header_bytes = 4096, .parts = 8, .depth = 3});
    FUZZ_CHECK(mail.attachments.size() <= 8);
    try {
      CheckText(ReadGreetingText(mail.text, limits), limits);
    } catch (const RefusedMail&) {
    }
  } catch (const RefusedMail& refused) {
    FUZZ_CHECK(*refused.what() != '\0');
  }
  return 0;
}
