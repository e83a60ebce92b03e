// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/intake/greeting_text.h"

#include <optional>
#include <regex>

#include "service/intake/refused_mail.h"
#include "service/web/field_text.h"

namespace moviletta::service {
namespace {

// The text between <tag> and the next </tag> after `from`; `from` moves past it.
std::optional<std::string_view> Leaf(std::string_view body, std::string_view tag,
                                     std::size_t& from) {
  const std::string open = "<" + std::string(tag) + ">", close = "</" + std::string(tag) + ">";
  const std::size_t start = body.find(open, from);
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t end = body.find(close, start + open.size());
  if (end == std::string_view::npos) return std::nullopt;
  from = end + close.size();
  return body.substr(start + open.size(), end - start - open.size());
}

// The value as kept: valid text, control characters as spaces, within `limit` bytes.
std::string Value(std::optional<std::string_view> raw, const char* field, std::size_t limit) {
  if (!raw) return {};
  if (raw->size() > limit)
    throw RefusedMail(std::string("the ") + field + " is longer than " + std::to_string(limit) +
                      " bytes");
  std::string text = KeptText(*raw, limit + 64);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return text;
}

std::string Leaf(std::string_view body, std::string_view tag, const char* field,
                 std::size_t limit) {
  std::size_t from = 0;
  return Value(Leaf(body, tag, from), field, limit);
}

std::string Address(std::string text) {
  return IsMailAddress(text) ? text : std::string();
}

void AddRecipient(std::vector<Recipient>& recipients, Recipient recipient,
                  const GreetingLimits& limits) {
  if (recipients.size() >= limits.recipients)
    throw RefusedMail("the greeting has more than " + std::to_string(limits.recipients) +
                      " recipients");
  recipients.push_back(std::move(recipient));
}

GreetingText MessageDocument(std::string_view body, const GreetingLimits& limits) {
  GreetingText text;
  text.kind = "greeting";
  std::size_t from = 0;
  const std::string_view sender = Leaf(body, "SENDER", from).value_or("");
  text.installation = Leaf(sender, "INSTALLATIONID", "installation", limits.name_bytes);
  text.sender_name = Leaf(sender, "FROM", "sender's name", limits.name_bytes);
  text.sender_email = Address(Leaf(sender, "FROMEMAIL", "sender's address", limits.address_bytes));
  from = 0;
  const std::string_view message = Leaf(body, "MESSAGE", from).value_or("");
  text.message = Leaf(message, "TEXT", "message", limits.message_bytes);
  from = 0;
  const std::string_view system = Leaf(body, "SYSTEM", from).value_or("");
  text.version = Leaf(system, "VERSION", "version", limits.name_bytes);
  from = 0;
  const std::string_view list = Leaf(body, "RECIPIENTS", from).value_or("");
  from = 0;
  while (const std::optional<std::string_view> entry = Leaf(list, "RECIPIENT", from)) {
    Recipient recipient;
    recipient.name = Leaf(*entry, "NAME", "recipient's name", limits.name_bytes);
    recipient.cell = Leaf(*entry, "CELL", "recipient's mobile number", limits.name_bytes);
    recipient.email = Address(Leaf(*entry, "EMAIL", "recipient's address", limits.address_bytes));
    AddRecipient(text.recipients, std::move(recipient), limits);
  }
  return text;
}

GreetingText MobileMail(std::string_view body, const GreetingLimits& limits) {
  GreetingText text;
  text.kind = "mobile";
  text.sender_name = Leaf(body, "Voxa:From", "sender's name", limits.name_bytes);
  text.sender_email =
      Address(Leaf(body, "Voxa:FromEmail", "sender's address", limits.address_bytes));
  text.message = Leaf(body, "Voxa:Message", "message", limits.message_bytes);
  text.installation = Leaf(body, "Voxa:InstallationID", "installation", limits.name_bytes);
  text.version = Leaf(body, "Voxa:ClientVersion", "version", limits.name_bytes);
  const std::string name = Leaf(body, "Voxa:To", "recipient's name", limits.name_bytes);
  const std::string phone = Leaf(body, "Voxa:ToPhone", "mobile number", limits.name_bytes);
  // The e-mail copies: one element, whatever separates the addresses in it.
  const std::string copies =
      Leaf(body, "Voxa:ToEmail", "e-mail copies", limits.address_bytes * limits.recipients);
  std::vector<std::string> addresses;
  static const std::regex separators(R"([,; ]+)");
  for (std::sregex_token_iterator it(copies.begin(), copies.end(), separators, -1), end; it != end;
       ++it)
    if (!it->str().empty()) addresses.push_back(it->str());
  if (!phone.empty() || addresses.empty())
    AddRecipient(text.recipients, {0, "recipient", name, phone, "", "waiting"}, limits);
  for (const std::string& address : addresses) {
    if (address.size() > limits.address_bytes)
      throw RefusedMail("an e-mail copy is longer than " + std::to_string(limits.address_bytes) +
                        " bytes");
    AddRecipient(text.recipients, {0, "recipient", name, "", Address(address), "waiting"}, limits);
  }
  return text;
}

}  // namespace

bool IsMailAddress(std::string_view address) {
  static const std::regex kAddress(R"([^@\s<>()\[\],;:"\\]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)");
  return address.size() <= 254 && std::regex_match(address.begin(), address.end(), kAddress);
}

GreetingText ReadGreetingText(std::string_view body, const GreetingLimits& limits) {
  if (body.find("<MLMESSAGE>") != std::string_view::npos) return MessageDocument(body, limits);
  if (body.find("<Voxa:From>") != std::string_view::npos) return MobileMail(body, limits);
  throw RefusedMail("the body is neither a message document nor a mobile e-mail");
}

}  // namespace moviletta::service
