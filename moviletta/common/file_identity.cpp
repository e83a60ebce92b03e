// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/file_identity.h"

#include <sys/stat.h>

namespace moviletta {

std::string FileIdentity(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return "missing";
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
         std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
         std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace moviletta
