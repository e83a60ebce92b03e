// SPDX-License-Identifier: GPL-3.0-or-later
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

// The migrations a database at schema `version` still needs, in order (migration N + 1 first);
// throws Error 3001 when the database is of a newer version than this program knows.
std::vector<std::string> PendingMigrations(const SqlWords& words, int version);

}  // namespace moviletta::service
