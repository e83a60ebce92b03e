// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/variant.h"

#include <algorithm>
#include <cctype>

#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"

namespace moviletta {
namespace {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::string Variant::ToText() const {
  return std::visit(
      Overload{[](std::monostate) { return std::string(); },
               [](bool b) { return std::string(b ? "True" : "False"); },
               [](int32_t i) { return std::to_string(i); },
               [](double d) { return DoubleToText(d); }, [](const std::string& s) { return s; }},
      value_);
}

int32_t Variant::ToLong() const {
  return std::visit(Overload{[](std::monostate) { return int32_t{0}; },
                             [](bool b) { return int32_t{b ? -1 : 0}; },
                             [](int32_t i) { return i; }, [](double d) { return RoundToLong(d); },
                             [](const std::string& s) { return TextToLong(s); }},
                    value_);
}

bool Variant::ToBoolean() const {
  return std::visit(Overload{[](std::monostate) { return false; }, [](bool b) { return b; },
                             [](int32_t i) { return i != 0; }, [](double d) { return d != 0; },
                             [](const std::string& s) {
                               if (EqualsIgnoringCase(s, "True")) return true;
                               if (EqualsIgnoringCase(s, "False")) return false;
                               return TextToDouble(s) != 0;
                             }},
                    value_);
}

double Variant::ToDouble() const {
  return std::visit(
      Overload{[](std::monostate) { return 0.0; }, [](bool b) { return b ? -1.0 : 0.0; },
               [](int32_t i) { return static_cast<double>(i); }, [](double d) { return d; },
               [](const std::string& s) { return TextToDouble(s); }},
      value_);
}

}  // namespace moviletta
