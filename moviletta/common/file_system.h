// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace moviletta {

// The file-system calls whose order decides what a power loss leaves of a write: a file's
// content is on the disk once the file is synced, a name made, changed or removed in a folder
// once that folder is. Each call returns the system's error number, 0 on success.
// Threads: any, one call at a time per path.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates the file `path` (which must not exist) with `mode` and writes `bytes` into it.
  virtual int CreateFile(const std::filesystem::path& path, std::string_view bytes,
                         mode_t mode) = 0;
  // Creates the folder `path` (which must not exist) with `mode`.
  virtual int CreateFolder(const std::filesystem::path& path, mode_t mode) = 0;
  // Gives the file `from` the second name `to`.
  virtual int Link(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // Renames `from` to `to`, replacing a file `to`.
  virtual int Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // Returns once the file or folder at `path` (a folder: its names) is on the disk.
  virtual int Sync(const std::filesystem::path& path) = 0;
};

// The machine's own file system.
FileSystem& LocalFileSystem();

}  // namespace moviletta
