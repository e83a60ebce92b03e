#pragma once

#include <string>

namespace moviletta::web {

// A fresh random token of 32 hexadecimal digits.
std::string NewToken();

// Whether `given` is `secret`, compared in a time that does not depend on where they differ.
bool SameSecret(const std::string& given, const std::string& secret);

}  // namespace moviletta::web
