// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace moviletta::service {

// The longest text the service keeps of one field a visitor's studio sends.
inline constexpr std::size_t kMaxFieldBytes = 2000;

// `bytes` as text the service keeps: valid UTF-8 stays as it is, every byte that is not part of
// a valid UTF-8 sequence becomes "\xNN", and the result is cut at `limit` bytes (never inside a
// character), with "…" added when something was cut.
std::string KeptText(std::string_view bytes, std::size_t limit = kMaxFieldBytes);

// `text` with &, <, >, " and ' as HTML character references: safe inside elements and quoted
// attributes.
std::string HtmlEscaped(std::string_view text);

}  // namespace moviletta::service
