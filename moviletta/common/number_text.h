#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Conversions between numbers and the texts the control reads and writes.
namespace moviletta {

// Decimal text to a 32-bit signed integer: optional blanks around, an optional sign, digits with
// an optional fraction that rounds to the nearest integer, halves to the even one.
// Throws Error 13 for any other text (empty included), Error 6 outside the 32-bit range.
int32_t TextToLong(std::string_view text);

// The same grammar, to a double. Throws Error 13.
double TextToDouble(std::string_view text);

// Rounds to the nearest integer, halves to even. Throws Error 6 outside the range or for NaN.
int32_t RoundToLong(double value);

// Shortest decimal text that reads back as the same double.
std::string DoubleToText(double value);

}  // namespace moviletta
