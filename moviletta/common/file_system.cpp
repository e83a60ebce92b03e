// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace moviletta {
namespace {

// The error number of the call that just failed; never 0, which would read as a success.
int LastError() {
  return errno != 0 ? errno : EIO;
}

class Local : public FileSystem {
 public:
  int CreateFile(const std::filesystem::path& path, std::string_view bytes, mode_t mode) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
  int CreateFolder(const std::filesystem::path& path, mode_t mode) override {
    return ::mkdir(path.c_str(), mode) == 0 ? 0 : LastError();
  }
  int Link(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return ::link(from.c_str(), to.c_str()) == 0 ? 0 : LastError();
  }
  int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : LastError();
  }
  int Sync(const std::filesystem::path& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int os_error = fd < 0 || ::fsync(fd) != 0 ? LastError() : 0;
    if (fd >= 0) ::close(fd);
    return os_error;
  }
};

}  // namespace

FileSystem& LocalFileSystem() {
  static Local local;
  return local;
}

}  // namespace moviletta
