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

void SyncToDisk(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const int os_error = fd < 0 || ::fsync(fd) != 0 ? errno : 0;
  if (fd >= 0) ::close(fd);
  if (os_error != 0)
    throw Error(err::kPathFileAccess, "cannot save " + path.string(), "Moviletta", os_error);
}

void MakeOwnFolder(const fs::path& folder, const char* source) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  fs::create_directories(folder.parent_path(), ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw Error(err::kPathFileAccess, "cannot make the folder " + folder.string(), source, errno);
}

namespace {

// Writes `bytes` to a new file at `path` made with `mode`; the system's error number, or 0.
int WriteNewFile(const fs::path& path, std::string_view bytes, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  int os_error = 0;
  while (os_error == 0 && !bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno != EINTR) os_error = errno;
    if (written > 0) bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(fd) != 0 && os_error == 0) os_error = errno;
  return os_error;
}

}  // namespace

void WriteFileWhole(const std::string& path, std::string_view bytes, const char* source,
                    bool sync_to_disk, bool owner_only) {
  const fs::path partial = PartialPath(path);
  std::error_code ec;
  fs::remove(partial, ec);  // a file left there would keep its own mode
  int os_error = WriteNewFile(partial, bytes, owner_only ? 0600 : 0666);
  if (os_error == 0) {
    try {
      if (sync_to_disk) SyncToDisk(partial);
      fs::rename(partial, path, ec);
      if (!ec) {
        if (sync_to_disk) SyncToDisk(fs::path(path).parent_path());
        return;
      }
      os_error = ec.value();
    } catch (const Error& e) {
      os_error = e.os_error() ? e.os_error() : EIO;
    }
  }
  fs::remove(partial, ec);
  throw Error(err::kPathFileAccess, "cannot write " + path, source, os_error);
}

}  // namespace moviletta
