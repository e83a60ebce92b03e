#include "moviletta/common/file_write.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "moviletta/common/error.h"

namespace moviletta {

void WriteFileWhole(const std::string& path, std::string_view bytes) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path partial = target.parent_path() / ("." + target.filename().string() + ".part");
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  const int written = out ? 0 : errno;
  std::error_code ec;
  if (written == 0) fs::rename(partial, target, ec);
  if (written == 0 && !ec) return;
  fs::remove(partial, ec);
  throw Error(err::kPathFileAccess, "cannot write " + path, "Moviletta", written);
}

}  // namespace moviletta
