// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace moviletta::service {

// Passwords and tokens, on libsodium. Any thread (call InitSecrets once first).

// Readies libsodium; throws moviletta::Error when it cannot.
void InitSecrets();
// A slow hash of `password` (argon2id, libsodium's interactive limits), as a self-describing
// string to keep.
std::string HashPassword(std::string_view password);
// Whether `password` is the one `hash` was made of.
bool PasswordMatches(std::string_view password, const std::string& hash);
// `bytes` random bytes as lower-case hex (twice as many characters).
std::string RandomHex(std::size_t bytes);
// A digest of `token` to keep instead of it (a stolen database holds no usable session).
std::string TokenDigest(std::string_view token);

}  // namespace moviletta::service
