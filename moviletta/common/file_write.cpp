#include "moviletta/common/file_write.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include <fstream>

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

void WriteFileWhole(const std::string& path, std::string_view bytes, const char* source,
                    bool sync_to_disk) {
  const fs::path partial = PartialPath(path);
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  int os_error = out ? 0 : errno;
  std::error_code ec;
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
