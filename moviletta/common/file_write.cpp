#include "moviletta/common/file_write.h"

#include <cerrno>
#include <fstream>

#include "moviletta/common/error.h"

namespace moviletta {

namespace fs = std::filesystem;

fs::path PartialPath(const fs::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".part");
}

void WriteFileWhole(const std::string& path, std::string_view bytes, const char* source) {
  const fs::path partial = PartialPath(path);
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  int os_error = out ? 0 : errno;
  std::error_code ec;
  if (os_error == 0) {
    fs::rename(partial, path, ec);
    if (!ec) return;
    os_error = ec.value();
  }
  fs::remove(partial, ec);
  throw Error(err::kPathFileAccess, "cannot write " + path, source, os_error);
}

}  // namespace moviletta
