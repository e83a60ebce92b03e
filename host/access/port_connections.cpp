// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/access/port_connections.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace moviletta::web {
namespace {

// One line of the table of TCP sockets: its two ends as the table writes them
// ("0100007F:B798": the address's four bytes as one hexadecimal number, the port in hexadecimal),
// its owner and its inode.
struct Socket {
  std::string local;
  std::string remote;
  uid_t uid = 0;
  uint64_t inode = 0;
};

// The sockets of the table with one end at `port`: the table lists every socket of the machine
// (those closing, too), and only these matter.
std::vector<Socket> ReadTable(const std::string& table, int port) {
  char end[8];
  std::snprintf(end, sizeof end, ":%04X ", static_cast<unsigned>(port));
  std::vector<Socket> sockets;
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  char local[64], remote[64];
  unsigned uid = 0;
  unsigned long long inode = 0;
  while (std::getline(in, line))
    if (line.find(end) != std::string::npos &&
        std::sscanf(line.c_str(), "%*s %63s %63s %*s %*s %*s %*s %u %*s %llu", local, remote, &uid,
                    &inode) == 4)
      sockets.push_back({local, remote, static_cast<uid_t>(uid), inode});
  return sockets;
}

int PortOf(const std::string& end) {
  const auto colon = end.find(':');
  return colon == std::string::npos ? -1
                                    : static_cast<int>(std::strtol(&end[colon + 1], nullptr, 16));
}

}  // namespace

std::vector<PortConnection> PortConnections(int port, const ConnectionTables& tables) {
  const std::vector<Socket> sockets = ReadTable(tables.tcp, port);
  std::map<std::pair<std::string, std::string>, uid_t> owners;
  for (const Socket& socket : sockets) owners[{socket.local, socket.remote}] = socket.uid;
  std::vector<PortConnection> connections;
  for (const Socket& socket : sockets) {
    const int peer_port = PortOf(socket.remote);
    if (PortOf(socket.local) != port || peer_port == 0 || socket.inode == 0) continue;  // listening
    if (const auto other = owners.find({socket.remote, socket.local}); other != owners.end())
      connections.push_back({socket.inode, peer_port, other->second});
  }
  return connections;
}

std::map<uint64_t, int> SocketsOf(const std::set<uint64_t>& inodes,
                                  const ConnectionTables& tables) {
  std::map<uint64_t, int> fds;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(tables.fds, ec)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (ec || !target.starts_with("socket:[")) continue;
    const uint64_t inode = std::strtoull(target.c_str() + 8, nullptr, 10);
    if (inodes.contains(inode)) fds[inode] = std::atoi(entry.path().filename().c_str());
  }
  return fds;
}

}  // namespace moviletta::web
