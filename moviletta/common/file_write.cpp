// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "moviletta/common/error.h"

namespace moviletta {

namespace fs = std::filesystem;

fs::path PartialPath(const fs::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".part");
}

int LinkOrCopy(const fs::path& from, const fs::path& to, FileSystem& files) {
  if (files.Link(from, to) == 0) return 0;
  std::error_code ec;
  if (fs::copy_file(from, to, ec)) return 0;
  return ec.value() ? ec.value() : EIO;
}

void SyncToDisk(const fs::path& path, FileSystem& files) {
  if (const int os_error = files.Sync(path))
    throw Error(err::kPathFileAccess, "cannot save " + path.string(), "Moviletta", os_error);
}

void CreateOwnFile(const std::string& path, const char* source) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int os_error = fd < 0 || ::fchmod(fd, 0600) != 0 ? errno : 0;
  if (fd >= 0) ::close(fd);
  if (os_error != 0) throw Error(err::kPathFileAccess, "cannot create " + path, source, os_error);
}

void MakeOwnFolder(const fs::path& named, const char* source) {
  // "a/b/" names the folder b: its parent is a, not a/b.
  const fs::path folder = named.has_filename() ? named : named.parent_path();
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  fs::create_directories(folder.parent_path(), ec);
  const int os_error = LocalFileSystem().CreateFolder(folder, 0700);
  if (os_error != 0 && !(os_error == EEXIST && fs::is_directory(folder, ec)))
    throw Error(err::kPathFileAccess, "cannot make the folder " + folder.string(), source,
                os_error == EEXIST ? ENOTDIR : os_error);
}

void WriteFileWhole(const std::string& path, std::string_view bytes, const char* source,
                    bool sync_to_disk, bool owner_only, FileSystem& files) {
  const fs::path partial = PartialPath(path);
  std::error_code ec;
  fs::remove(partial, ec);  // a file left there would keep its own mode
  int os_error = files.CreateFile(partial, bytes, owner_only ? 0600 : 0666);
  if (os_error == 0 && sync_to_disk) os_error = files.Sync(partial);
  if (os_error == 0) os_error = files.Rename(partial, path);
  if (os_error != 0) {
    fs::remove(partial, ec);
    throw Error(err::kPathFileAccess, "cannot write " + path, source, os_error);
  }
  // The new content has taken the name: the write has happened, whatever follows.
  if (!sync_to_disk) return;
  if (const int unsynced = files.Sync(fs::path(path).parent_path()))
    throw Error(err::kPathFileAccess,
                path + " is written, but the system could not make sure that it is on the disk",
                source, unsynced);
}

}  // namespace moviletta
