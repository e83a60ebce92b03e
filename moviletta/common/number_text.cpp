// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "moviletta/common/error.h"

namespace moviletta {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct DecimalText {
  bool negative = false;
  std::string_view integer;
  std::string_view fraction;
  std::string_view exponent;  // digits after "e" or "E", with their sign
};

bool AllDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Splits "  -12.50 " (and with `exponent`, "1.5e-3") into its parts; throws Error 13 when the
// text is not such a decimal.
DecimalText SplitDecimal(std::string_view text, bool exponent) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  DecimalText d;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    d.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (const auto e = text.find_first_of("eE"); exponent && e != std::string_view::npos) {
    d.exponent = text.substr(e + 1);
    text = text.substr(0, e);
    const std::string_view digits = d.exponent.starts_with('-') || d.exponent.starts_with('+')
                                        ? d.exponent.substr(1)
                                        : d.exponent;
    if (digits.empty() || !AllDigits(digits)) throw Error(err::kTypeMismatch);
  }
  const auto dot = text.find('.');
  d.integer = text.substr(0, dot);
  d.fraction = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if ((d.integer.empty() && d.fraction.empty()) || !AllDigits(d.integer) || !AllDigits(d.fraction))
    throw Error(err::kTypeMismatch);
  return d;
}

// The power of ten of the first significant digit (0 for zero), saturating far beyond any double.
int64_t Magnitude(const DecimalText& d) {
  int64_t power = 0;
  for (char c : d.exponent)
    if (c >= '0' && c <= '9') power = std::min<int64_t>(power * 10 + (c - '0'), 1'000'000'000);
  if (d.exponent.starts_with('-')) power = -power;
  if (const auto first = d.integer.find_first_not_of('0'); first != std::string_view::npos)
    return power + static_cast<int64_t>(d.integer.size() - first) - 1;
  const auto first = d.fraction.find_first_not_of('0');
  return first == std::string_view::npos ? 0 : power - static_cast<int64_t>(first) - 1;
}

}  // namespace

int32_t TextToLong(std::string_view text) {
  const DecimalText d = SplitDecimal(text, false);
  constexpr int64_t kLimit = int64_t{1} << 32;  // anything above is out of range either way
  int64_t magnitude = 0;
  for (char c : d.integer) {
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) throw Error(err::kOverflow);
  }
  if (!d.fraction.empty()) {
    const char first = d.fraction.front();
    const bool rest_nonzero = d.fraction.find_first_not_of('0', 1) != std::string_view::npos;
    if (first > '5' || (first == '5' && (rest_nonzero || magnitude % 2 == 1))) ++magnitude;
  }
  const int64_t value = d.negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    throw Error(err::kOverflow);
  return static_cast<int32_t>(value);
}

double TextToDouble(std::string_view text) {
  const DecimalText d = SplitDecimal(text, true);
  std::string plain(d.integer.empty() ? "0" : d.integer);
  if (!d.fraction.empty()) plain.append(".").append(d.fraction);
  if (!d.exponent.empty()) plain.append("e").append(d.exponent);
  double value = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  const bool whole = end == plain.data() + plain.size();
  if (whole && ec == std::errc::result_out_of_range && Magnitude(d) < 0) return 0.0;  // too small
  if (ec != std::errc() || !whole) throw Error(err::kOverflow);
  return d.negative ? -value : value;
}

int32_t RoundToLong(double value) {
  const double rounded = std::nearbyint(value);  // default rounding mode: halves to even
  if (!(rounded >= std::numeric_limits<int32_t>::min() &&
        rounded <= std::numeric_limits<int32_t>::max()))
    throw Error(err::kOverflow);
  return static_cast<int32_t>(rounded);
}

std::string DoubleToText(double value) {
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e15);
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value,
                    plain ? std::chars_format::fixed : std::chars_format::scientific);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

}  // namespace moviletta
