// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// The fuzz targets' oracle checks: a failed one is a finding, whatever the build.
#define FUZZ_CHECK(condition) \
  ((condition) ? void() : ::moviletta::fuzz::Fail(#condition, __FILE__, __LINE__))

namespace moviletta::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

// Cuts the next piece off `input` at `separator` (or takes the rest).
inline std::string_view Piece(std::string_view& input, char separator) {
  const std::size_t at = input.find(separator);
  const std::string_view piece = input.substr(0, at);
  input.remove_prefix(at == std::string_view::npos ? input.size() : at + 1);
  return piece;
}

// True for text our XML documents carry unchanged: UTF-8 without surrogates, U+FFFE, U+FFFF or
// control characters other than tab, line feed and carriage return.
bool IsXmlSafeText(std::string_view text);

}  // namespace moviletta::fuzz

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size);
