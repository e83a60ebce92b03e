// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/access/secret.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>

#include "moviletta/common/file_write.h"

namespace moviletta::web {

std::string NewToken() {
  std::random_device random;
  std::ostringstream token;
  for (int i = 0; i < 4; ++i) token << std::hex << std::setw(8) << std::setfill('0') << random();
  return token.str();
}

std::string KeptToken(const std::string& file, bool renew) {
  std::string token;
  if (!renew) std::ifstream(file) >> token;
  if (token.size() == 32 && token.find_first_not_of("0123456789abcdef") == std::string::npos)
    return token;
  token = NewToken();
  WriteFileWhole(file, token + "\n", "moviletta-studio", /*sync_to_disk=*/true,
                 /*owner_only=*/true);
  return token;
}

std::string Proof(std::string_view secret, std::string_view nonce, std::string_view host) {
  const std::string message = "moviletta-proof\n" + std::string(nonce) + "\n" + std::string(host);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &size);
  std::ostringstream hex;
  for (unsigned int i = 0; i < size; ++i)
    hex << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(digest[i]);
  return hex.str();
}

bool SameSecret(const std::string& given, const std::string& secret) {
  return given.size() == secret.size() &&
         CRYPTO_memcmp(given.data(), secret.data(), secret.size()) == 0;
}

}  // namespace moviletta::web
