// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/access/secret.h"

#include <openssl/crypto.h>

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

bool SameSecret(const std::string& given, const std::string& secret) {
  return given.size() == secret.size() &&
         CRYPTO_memcmp(given.data(), secret.data(), secret.size()) == 0;
}

}  // namespace moviletta::web
