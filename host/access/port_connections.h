// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace moviletta::web {

// Where the system lists what PortConnections reads.
struct ConnectionTables {
  std::string tcp = "/proc/net/tcp";  // the TCP sockets over IPv4, with their owners
  std::string fds = "/proc/self/fd";  // this process's open files
};

// A TCP connection to a port of this machine, and who holds its other end.
struct PortConnection {
  uint64_t inode = 0;  // the socket's at the port, which names the connection while it lasts
  int peer_port = 0;   // the other end's port
  uid_t peer_uid = 0;  // the user whose process holds the other end
};

// The connections over IPv4 to port `port` whose other end the table of TCP sockets lists (one
// that is already closed is left out). Any thread.
std::vector<PortConnection> PortConnections(int port, const ConnectionTables& tables = {});

// This process's file descriptors of the sockets `inodes` names, by inode. Any thread.
std::map<uint64_t, int> SocketsOf(const std::set<uint64_t>& inodes,
                                  const ConnectionTables& tables = {});

}  // namespace moviletta::web
