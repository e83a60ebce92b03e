#include "host/secret.h"

#include <openssl/crypto.h>

#include <iomanip>
#include <random>
#include <sstream>

namespace moviletta::web {

std::string NewToken() {
  std::random_device random;
  std::ostringstream token;
  for (int i = 0; i < 4; ++i) token << std::hex << std::setw(8) << std::setfill('0') << random();
  return token.str();
}

bool SameSecret(const std::string& given, const std::string& secret) {
  return given.size() == secret.size() &&
         CRYPTO_memcmp(given.data(), secret.data(), secret.size()) == 0;
}

}  // namespace moviletta::web
