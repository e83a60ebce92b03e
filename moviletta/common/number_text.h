// SPDX-License-Identifier: GPL-3.0-or-later
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

// The same grammar with an optional exponent ("1.5e-3", as DoubleToText writes), to a double.
// Throws Error 13 for other texts and Error 6 for a magnitude beyond a double; too small to
// hold is 0.
double TextToDouble(std::string_view text);

// Rounds to the nearest integer, halves to even. Throws Error 6 outside the range or for NaN.
int32_t RoundToLong(double value);

// The shortest text that reads back as the same double: plain decimals from 1e-5 to below 1e15
// ("100000", "0.25"), an exponent outside ("1e+300").
std::string DoubleToText(double value);

}  // namespace moviletta
