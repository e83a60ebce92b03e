// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting's message document and the mobile body: every value a page gives reads back
// from the document exactly (or, when XML cannot carry it, as clean text), and the recipients
// list becomes exactly the recipients it names. The first input byte separates the fields.
#include <pugixml.hpp>

#include <string>
#include <vector>

#include "moviletta/common/error.h"
#include "moviletta/dispatch/mobile_body.h"
#include "moviletta/server/message_xml.h"
#include "tests/fuzz/fuzz_check.h"

namespace moviletta::fuzz {
namespace {

void CheckValue(const pugi::xml_node& parent, const char* name, std::string_view given) {
  const pugi::xml_node node = parent.child(name);
  FUZZ_CHECK(node);
  const std::string_view read = node.child_value();
  if (IsXmlSafeText(given))
    FUZZ_CHECK(read == given);
  else
    FUZZ_CHECK(IsXmlSafeText(read) && read.size() <= 3 * given.size());
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at; (at = text.find(separator)) != std::string_view::npos;
       text.remove_prefix(at + 1))
    parts.push_back(text.substr(0, at));
  parts.push_back(text);
  return parts;
}

pugi::xml_document Parse(const std::string& text) {
  pugi::xml_document document;
  FUZZ_CHECK(document.load_string(text.c_str(), pugi::parse_default | pugi::parse_ws_pcdata));
  return document;
}

}  // namespace
}  // namespace moviletta::fuzz

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta;
  using namespace moviletta::fuzz;
  if (size == 0) return 0;
  const char separator = static_cast<char>(data[0]);
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view sender = Piece(input, separator), email = Piece(input, separator),
                         recipients = Piece(input, separator), text = Piece(input, separator),
                         publish = Piece(input, separator), phone = Piece(input, separator),
                         emails = input;

  std::vector<std::vector<std::string_view>> entries;
  bool valid = true;
  if (!recipients.empty())
    for (const std::string_view entry : Split(recipients, ';')) {
      entries.push_back(Split(entry, ','));
      const std::size_t fields = entries.back().size();
      valid &= fields == 3 || fields >= 6;
    }

  std::string section;
  try {
    const std::string xml =
        BuildMessageXml(7, std::string(sender), std::string(email), std::string(recipients),
                        std::string(text), std::string(publish), 3, MessageContext{}, section);
    FUZZ_CHECK(valid);
    const pugi::xml_document document = Parse(xml);
    const pugi::xml_node root = document.child("MLMESSAGE");
    CheckValue(root.child("SENDER"), "FROM", sender);
    CheckValue(root.child("SENDER"), "FROMEMAIL", email);
    CheckValue(root.child("MESSAGE"), "TEXT", text);
    CheckValue(root.child("MESSAGE"), "PUBLISH", publish);
    std::size_t count = 0;
    for (const pugi::xml_node recipient : root.child("RECIPIENTS").children("RECIPIENT")) {
      FUZZ_CHECK(count < entries.size());
      const std::vector<std::string_view>& fields = entries[count++];
      CheckValue(recipient, "NAME", fields[0]);
      CheckValue(recipient, "CELL", fields[1]);
      CheckValue(recipient, "EMAIL", fields[2]);
      if (fields.size() >= 6) {
        CheckValue(recipient, "ADD_REC1", fields[3]);
        CheckValue(recipient, "ADD_REC2", fields[4]);
        CheckValue(recipient, "ADD_REC3", fields[5]);
      } else {
        FUZZ_CHECK(!recipient.child("ADD_REC1"));
      }
    }
    FUZZ_CHECK(count == entries.size());
  } catch (const Error& e) {
    FUZZ_CHECK(e.number() == err::kSubscriptOutOfRange && !valid && section == "recipients");
  }

  const std::string body = BuildMobileBody(
      std::string(sender), std::string(email), std::string(text), std::string(phone),
      std::string(emails), std::string(publish), MobileContext{});
  const pugi::xml_document mobile = Parse("<BODY>" + body + "</BODY>");
  const pugi::xml_node root = mobile.child("BODY");
  CheckValue(root, "Voxa:From", sender);
  CheckValue(root, "Voxa:To", text);
  CheckValue(root, "Voxa:ToPhone", phone);
  CheckValue(root, "Voxa:Message", publish);
  CheckValue(root, "Voxa:FromEmail", email);
  CheckValue(root, "Voxa:ToEmail", emails);
  return 0;
}
