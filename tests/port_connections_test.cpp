// SPDX-License-Identifier: GPL-3.0-or-later
// The studio's connections and who holds their other ends, as the system's tables tell it.
#include "host/access/port_connections.h"

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
TEST(PortConnections, AreTheConnectionsToThePortWithTheirOtherEndsOwners) {
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
  const std::vector<PortConnection> found = PortConnections(47800, tables);
  ASSERT_EQ(found.size(), 2u) << "the listening socket, a gone end and others' ports left out";
  const auto& [from_other, from_own] =
      found[0].inode == 111 ? std::pair(found[0], found[1]) : std::pair(found[1], found[0]);
  EXPECT_EQ(from_other.inode, 111u);
  EXPECT_EQ(from_other.peer_port, 0xC000);
  EXPECT_EQ(from_other.peer_uid, 1001u);
  EXPECT_EQ(from_own.inode, 333u);
  EXPECT_EQ(from_own.peer_port, 0xC001);
  EXPECT_EQ(from_own.peer_uid, 1000u);
  EXPECT_TRUE(PortConnections(8080, tables).empty()) << "no connection to that port";
  EXPECT_EQ(SocketsOf({111, 444, 999}, tables), (std::map<uint64_t, int>{{111, 5}, {444, 7}}))
      << "our sockets by inode, not a file or another socket";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace moviletta::web
