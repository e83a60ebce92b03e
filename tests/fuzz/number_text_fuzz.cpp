// SPDX-License-Identifier: GPL-3.0-or-later
// Number texts: the integer and the floating reading agree, a text the floating reading accepts
// means what the C library says it means, and every double's text reads back as that double.
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace moviletta::fuzz {
namespace {

template <typename T>
std::optional<T> Read(T (*read)(std::string_view), std::string_view text, int32_t& error) {
  try {
    return read(text);
  } catch (const Error& e) {
    error = e.number();
    return std::nullopt;
  }
}

void CheckDoubleText(double value) {
  const std::string text = DoubleToText(value);
  int32_t error = 0;
  const std::optional<double> back = Read(TextToDouble, text, error);
  FUZZ_CHECK(back.has_value());
  FUZZ_CHECK(*back == value && std::signbit(*back) == std::signbit(value));
}

}  // namespace
}  // namespace moviletta::fuzz

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta;
  using namespace moviletta::fuzz;
  const std::string text(reinterpret_cast<const char*>(data), size);

  int32_t long_error = 0, double_error = 0;
  const std::optional<int32_t> whole = Read(TextToLong, text, long_error);
  const std::optional<double> real = Read(TextToDouble, text, double_error);
  FUZZ_CHECK(whole || long_error == err::kTypeMismatch || long_error == err::kOverflow);
  FUZZ_CHECK(real || double_error == err::kTypeMismatch || double_error == err::kOverflow);
  if (whole) {
    FUZZ_CHECK(real.has_value());
    FUZZ_CHECK(std::fabs(*real - *whole) <= 0.5 + std::fabs(*real) * DBL_EPSILON);
  }
  if (long_error == err::kOverflow) FUZZ_CHECK(!real || std::fabs(*real) >= 2147483647.5 - 1);

  if (real) {
    FUZZ_CHECK(std::isfinite(*real));
    if (std::memchr(text.data(), '\0', text.size()) == nullptr) {
      const double expected = std::strtod(text.c_str(), nullptr);
      FUZZ_CHECK(*real == expected ||
                 (std::fabs(*real) < DBL_MIN && std::fabs(expected) < DBL_MIN));
    }
    CheckDoubleText(*real);
  }
  if (size == sizeof(double)) {
    double bits = 0;
    std::memcpy(&bits, data, sizeof bits);
    if (std::isfinite(bits)) CheckDoubleText(bits);
  }
  return 0;
}
