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

namespace {

// The error number of the call that just failed; never 0, which would read as a success.
int LastError() {
  return errno != 0 ? errno : EIO;
}

}  // namespace

void SyncToDisk(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const int os_error = fd < 0 || ::fsync(fd) != 0 ? LastError() : 0;
  if (fd >= 0) ::close(fd);
  if (os_error != 0)
    throw Error(err::kPathFileAccess, "cannot save " + path.string(), "Moviletta", os_error);
}

void MakeOwnFolder(const fs::path& folder, const char* source) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  fs::create_directories(folder.parent_path(), ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && (errno != EEXIST || !fs::is_directory(folder, ec)))
    throw Error(err::kPathFileAccess, "cannot make the folder " + folder.string(), source,
                errno == EEXIST ? ENOTDIR : LastError());
}

namespace {

// Writes `bytes` to a new file at `path` made with `mode`; the system's error number, or 0.
int WriteNewFile(const fs::path& path, std::string_view bytes, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return LastError();
  int os_error = 0;
  while (os_error == 0 && !bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno != EINTR) os_error = LastError();
    if (written == 0) os_error = EIO;  // nothing taken: it would never end
    if (written > 0) bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(fd) != 0 && os_error == 0) os_error = LastError();
  return os_error;
}

}  // namespace

void WriteFileWhole(const std::string& path, std::string_view bytes, const char* source,
                    bool sync_to_disk, bool owner_only) {
  const fs::path partial = PartialPath(path);
  std::error_code ec;
  fs::remove(partial, ec);  // a file left there would keep its own mode
  int os_error = WriteNewFile(partial, bytes, owner_only ? 0600 : 0666);
  if (os_error == 0 && sync_to_disk) {
    try {
      SyncToDisk(partial);
    } catch (const Error& e) {
      os_error = e.os_error();
    }
  }
  if (os_error == 0) {
    fs::rename(partial, path, ec);
    if (ec) os_error = ec.value() ? ec.value() : EIO;
  }
  if (os_error != 0) {
    fs::remove(partial, ec);
    throw Error(err::kPathFileAccess, "cannot write " + path, source, os_error);
  }
  // The new content has taken the name: the write has happened, whatever follows.
  if (!sync_to_disk) return;
  try {
    SyncToDisk(fs::path(path).parent_path());
  } catch (const Error& e) {
    throw Error(err::kPathFileAccess,
                path + " is written, but the system could not make sure that it is on the disk",
                source, e.os_error());
  }
}

}  // namespace moviletta
