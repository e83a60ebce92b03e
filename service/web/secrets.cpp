// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/secrets.h"

#include <sodium.h>

#include <vector>

#include "moviletta/common/error.h"

namespace moviletta::service {
namespace {

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, size);
  hex.pop_back();
  return hex;
}

}  // namespace

void InitSecrets() {
  if (sodium_init() < 0) throw Error(3010, "libsodium cannot start", "Secrets");
}

std::string HashPassword(std::string_view password) {
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    throw Error(7, "not enough memory to hash a password", "Secrets");
  return hash;
}

bool PasswordMatches(std::string_view password, const std::string& hash) {
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string RandomHex(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  randombytes_buf(random.data(), random.size());
  return Hex(random.data(), random.size());
}

std::string TokenDigest(std::string_view token) {
  unsigned char digest[crypto_generichash_BYTES];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  return Hex(digest, sizeof digest);
}

}  // namespace moviletta::service
