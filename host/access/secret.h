// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace moviletta::web {

// A fresh random token of 32 hexadecimal digits.
std::string NewToken();

// The token kept in `file`, else (or with `renew`) a fresh one written there, readable by its
// owner alone. Throws Error when the file cannot be written.
std::string KeptToken(const std::string& file, bool renew);

// Whether `given` is `secret`, compared in a time that does not depend on where they differ.
bool SameSecret(const std::string& given, const std::string& secret);

}  // namespace moviletta::web
