#pragma once

#include <string>
#include <vector>

namespace moviletta::service {

// What the two engines call the same things.
struct SqlWords {
  std::string key;    // a 64-bit key the database numbers itself
  std::string big;    // a 64-bit integer
  std::string bytes;  // a binary string
};

// The numbered migrations, in one engine's words: migration N (at N - 1) brings the schema from
// version N - 1 to N. Never change one that was released; add the next.
std::vector<std::string> Migrations(const SqlWords& words);

}  // namespace moviletta::service
