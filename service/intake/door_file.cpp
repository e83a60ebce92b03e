// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/intake/door_file.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace moviletta::service {
namespace {

std::string HostName() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return host;
}

}  // namespace

std::string DoorFolder(const std::string& data) {
  return data + "/doors";
}

std::string DoorFileOfThisProcess(const std::string& data) {
  return DoorFolder(data) + "/" + HostName() + "-" + std::to_string(::getpid());
}

std::string DoorText(const Door& door) {
  return std::to_string(door.port) + " " + door.token + "\n";
}

std::vector<Door> DoorsOfThisHost(const std::string& data) {
  std::vector<Door> doors;
  const std::string prefix = HostName() + "-";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(DoorFolder(data), ec)) {
    if (!entry.path().filename().string().starts_with(prefix)) continue;
    Door door;
    door.file = entry.path().string();
    door.pid = std::strtol(entry.path().filename().c_str() + prefix.size(), nullptr, 10);
    std::ifstream in(door.file);
    if (in >> door.port >> door.token && door.port > 0 && door.port < 65536)
      doors.push_back(std::move(door));
  }
  std::shuffle(doors.begin(), doors.end(), std::mt19937(std::random_device{}()));
  return doors;
}

}  // namespace moviletta::service
