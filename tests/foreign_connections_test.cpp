// SPDX-License-Identifier: GPL-3.0-or-later
// Which of the studio's connections come from another user's process, as the system's tables
// tell it.
#include "host/access/foreign_connections.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace moviletta::web {
namespace {

namespace fs = std::filesystem;

// Port 47800 (BAB8) of 127.0.0.1 (0100007F): listening; a connection from user 1001's port
// C000; one from user 1000's (the studio's) port C001; one whose other end is gone; a
// connection of user 1001 to another port.
TEST(ForeignConnections, AreTheConnectionsToThePortFromAnotherUsersProcesses) {
  const fs::path folder =
      fs::temp_directory_path() / ("moviletta-foreign-" + std::to_string(getpid()));
  fs::create_directories(folder / "fd");
  std::ofstream(folder / "tcp")
      << "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
         "timeout inode\n"
         "   0: 0100007F:BAB8 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 100 "
         "1 0 100 0 0 10 0\n"
         "   1: 0100007F:BAB8 0100007F:C000 01 00000000:00000000 00:00000000 00000000  1000 0 111 "
         "1 0 20 4 30 10 -1\n"
         "   2: 0100007F:C000 0100007F:BAB8 01 00000000:00000000 00:00000000 00000000  1001 0 222 "
         "1 0 20 4 30 10 -1\n"
         "   3: 0100007F:BAB8 0100007F:C001 01 00000000:00000000 00:00000000 00000000  1000 0 333 "
         "1 0 20 4 30 10 -1\n"
         "   4: 0100007F:C001 0100007F:BAB8 01 00000000:00000000 00:00000000 00000000  1000 0 334 "
         "1 0 20 4 30 10 -1\n"
         "   5: 0100007F:BAB8 0100007F:C002 01 00000000:00000000 00:00000000 00000000  1000 0 444 "
         "1 0 20 4 30 10 -1\n"
         "   6: 0100007F:C003 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1001 0 555 "
         "1 0 20 4 30 10 -1\n";
  fs::create_symlink("socket:[111]", folder / "fd" / "5");
  fs::create_symlink("socket:[333]", folder / "fd" / "6");
  fs::create_symlink("socket:[444]", folder / "fd" / "7");
  fs::create_symlink("/dev/null", folder / "fd" / "8");
  fs::create_symlink("socket:[100]", folder / "fd" / "9");
  const ConnectionTables tables{(folder / "tcp").string(), (folder / "fd").string()};
  EXPECT_EQ(ForeignConnections(47800, 1000, tables), std::vector<int>{5});
  EXPECT_EQ(ForeignConnections(47800, 1001, tables), std::vector<int>{6}) << "as user 1001 sees it";
  EXPECT_TRUE(ForeignConnections(8080, 1000, tables).empty()) << "not a connection to the port";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace moviletta::web
