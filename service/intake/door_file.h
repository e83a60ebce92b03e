// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace moviletta::service {

// A running node's door for mails: the loopback port where it takes mails in, and the token a
// caller must show. Each node that opens one keeps it in a file of the data folder, readable by
// the service's user alone, named after its host and process, so that `moviletta-deliver` on the
// same host finds the nodes that run there (the data folder may be shared by several hosts).
struct Door {
  int port = 0;
  std::string token;
  std::string file;  // where it was read from
  long pid = 0;      // the node's process, as the file's name says
};

// The folder of the doors of the data folder `data`.
std::string DoorFolder(const std::string& data);
// The file of this process's door: "<folder>/<host>-<pid>".
std::string DoorFileOfThisProcess(const std::string& data);
// The file's content for `door`.
std::string DoorText(const Door& door);
// The doors kept in `data` by the nodes of this host, in a random order (spreading the mails among
// them); files that cannot be read or understood are left out. Any thread.
std::vector<Door> DoorsOfThisHost(const std::string& data);

// The largest mail taken in; one byte more is refused, so a reader stops one byte past it.
inline constexpr std::size_t kMailBytesLimit = std::size_t{64} << 20;
// The header that carries the door's token.
inline constexpr const char* kDoorTokenHeader = "X-Moviletta-Door";

}  // namespace moviletta::service
