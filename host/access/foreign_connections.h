// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace moviletta::web {

// Where the system lists what ForeignConnections reads.
struct ConnectionTables {
  std::string tcp = "/proc/net/tcp";  // the TCP sockets over IPv4, with their owners
  std::string fds = "/proc/self/fd";  // this process's open files
};

// The file descriptors of this process's sockets that hold a TCP connection over IPv4 to its
// port `port` from a process of another user than `self` (as the table of TCP sockets lists the
// other end's owner). A connection whose other end is not listed (already closed) is left out.
// Any thread.
std::vector<int> ForeignConnections(int port, uid_t self, const ConnectionTables& tables = {});

}  // namespace moviletta::web
