// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/xml/xml_text.h"

namespace moviletta {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t Utf8Length(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = lead < 0x80                    ? 1
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
  if (length == 0 || length > s.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  if (length == 3 && ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F)))
    return 0;  // overlong, or a UTF-16 surrogate
  if (length == 4 && ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F)))
    return 0;
  if (length == 3 && lead == 0xEF && byte(1) == 0xBF && (byte(2) == 0xBE || byte(2) == 0xBF))
    return 0;  // U+FFFE and U+FFFF are not characters
  return length;
}

}  // namespace

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const char c = text.front();
    const std::size_t length = Utf8Length(text);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      text.remove_prefix(1);
      continue;
    }
    if (length == 1) {
      switch (c) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&apos;";
          break;
        case '\r':
          out += "&#13;";  // a reader normalises a raw one to a line feed
          break;
        default:
          if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') out += c;
      }
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

std::string XmlLeaf(std::string_view name, std::string_view value) {
  std::string leaf;
  leaf.append("<")
      .append(name)
      .append(">")
      .append(XmlEscape(value))
      .append("</")
      .append(name)
      .append(">");
  return leaf;
}

}  // namespace moviletta
