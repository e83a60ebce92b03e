// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace moviletta {

// A value of the scripting surface and of the property bag: empty, Boolean, Long, Double or
// String. The To* conversions follow the platform's rules and throw Error 13 (type mismatch)
// or Error 6 (overflow) where those rules fail.
class Variant {
 public:
  using Value = std::variant<std::monostate, bool, int32_t, double, std::string>;

  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}

  const Value& value() const { return value_; }

  // "True"/"False" for Booleans, decimal for numbers, "" for empty.
  std::string ToText() const;
  // Booleans give -1 and 0, doubles round halves to even, texts are read as decimal numbers.
  int32_t ToLong() const;
  // Numbers are true when not 0; texts "True"/"False" in any case, or a number.
  bool ToBoolean() const;
  double ToDouble() const;

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  Value value_;
};

}  // namespace moviletta
