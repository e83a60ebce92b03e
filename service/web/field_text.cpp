// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/field_text.h"

#include <cstdint>

namespace moviletta::service {
namespace {

// The length of the valid UTF-8 sequence at the start of `rest`, or 0.
std::size_t SequenceLength(std::string_view rest) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(rest[i]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  uint32_t lowest = 0;
  if ((lead & 0xE0) == 0xC0)
    length = 2, lowest = 0x80;
  else if ((lead & 0xF0) == 0xE0)
    length = 3, lowest = 0x800;
  else if ((lead & 0xF8) == 0xF0)
    length = 4, lowest = 0x10000;
  else
    return 0;
  if (rest.size() < length) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
  if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string KeptText(std::string_view bytes, std::size_t limit) {
  std::string kept;
  kept.reserve(std::min(bytes.size(), limit));
  while (!bytes.empty()) {
    const std::size_t length = SequenceLength(bytes);
    std::string piece;
    if (length) {
      piece.assign(bytes.substr(0, length));
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const auto value = static_cast<uint8_t>(bytes[0]);
      piece = {'\\', 'x', kHex[value >> 4], kHex[value & 15]};
    }
    if (kept.size() + piece.size() > limit) return kept + "\u2026";
    kept += piece;
    bytes.remove_prefix(length ? length : 1);
  }
  return kept;
}

std::string HtmlEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace moviletta::service
