#include "moviletta/common/number_text.h"

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
};

// Splits "  -12.50 " into its parts; throws Error 13 when the text is not a plain decimal.
DecimalText SplitDecimal(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  DecimalText d;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    d.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const auto dot = text.find('.');
  d.integer = text.substr(0, dot);
  d.fraction = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  const auto all_digits = [](std::string_view s) {
    for (char c : s)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if ((d.integer.empty() && d.fraction.empty()) || !all_digits(d.integer) ||
      !all_digits(d.fraction))
    throw Error(err::kTypeMismatch);
  return d;
}

}  // namespace

int32_t TextToLong(std::string_view text) {
  const DecimalText d = SplitDecimal(text);
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
  const DecimalText d = SplitDecimal(text);
  std::string plain(d.integer.empty() ? "0" : d.integer);
  if (!d.fraction.empty()) plain.append(".").append(d.fraction);
  double value = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  const bool whole = end == plain.data() + plain.size();
  // Out of range with no integer digits can only be too small to hold: that is zero.
  const bool underflow = ec == std::errc::result_out_of_range &&
                         d.integer.find_first_not_of('0') == std::string_view::npos;
  if (whole && underflow) return 0.0;
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
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

}  // namespace moviletta
