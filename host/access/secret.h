// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace moviletta::web {

// A fresh random token of 32 hexadecimal digits.
std::string NewToken();

// The token kept in `file`, else (or with `renew`) a fresh one written there, readable by its
// owner alone. Throws Error when the file cannot be written.
std::string KeptToken(const std::string& file, bool renew);

// What proves knowing `secret` to a page without telling it: the HMAC-SHA256 under `secret` of
// "moviletta-proof", the page's `nonce` and the `host` ("127.0.0.1:<port>") that answers, each on
// a line of its own, as 64 hexadecimal digits. The host is part of it, so that a proof fetched
// from the studio is no proof for another program on another port.
std::string Proof(std::string_view secret, std::string_view nonce, std::string_view host);

// Whether `given` is `secret`, compared in a time that does not depend on where they differ.
bool SameSecret(const std::string& given, const std::string& secret);

}  // namespace moviletta::web
