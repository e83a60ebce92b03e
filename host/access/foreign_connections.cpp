// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/access/foreign_connections.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace moviletta::web {
namespace {

// One line of the table of TCP sockets: its two ends as the table writes them
// ("0100007F:B798": the address's four bytes as one hexadecimal number, the port in hexadecimal),
// its owner and its inode.
struct Socket {
  std::string local;
  std::string remote;
  uid_t uid = 0;
  std::string inode;
};

std::vector<Socket> ReadTable(const std::string& table) {
  std::vector<Socket> sockets;
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, state, queues, timer, retransmits, timeout;
    Socket socket;
    if (fields >> slot >> socket.local >> socket.remote >> state >> queues >> timer >>
        retransmits >> socket.uid >> timeout >> socket.inode)
      sockets.push_back(std::move(socket));
  }
  return sockets;
}

int PortOf(const std::string& end) {
  const auto colon = end.find(':');
  return colon == std::string::npos ? -1
                                    : static_cast<int>(std::strtol(&end[colon + 1], nullptr, 16));
}

}  // namespace

std::vector<int> ForeignConnections(int port, uid_t self, const ConnectionTables& tables) {
  const std::vector<Socket> sockets = ReadTable(tables.tcp);
  std::map<std::pair<std::string, std::string>, uid_t> owners;
  for (const Socket& socket : sockets) owners[{socket.local, socket.remote}] = socket.uid;
  std::set<std::string> foreign;  // the inodes of our ends of others' connections
  for (const Socket& socket : sockets) {
    if (PortOf(socket.local) != port || PortOf(socket.remote) == 0) continue;  // 0: listening
    const auto other = owners.find({socket.remote, socket.local});
    if (other != owners.end() && other->second != self) foreign.insert(socket.inode);
  }
  std::vector<int> fds;
  if (foreign.empty()) return fds;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(tables.fds, ec)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (!ec && target.starts_with("socket:[") &&
        foreign.contains(target.substr(8, target.size() - 9)))
      fds.push_back(std::atoi(entry.path().filename().c_str()));
  }
  return fds;
}

}  // namespace moviletta::web
