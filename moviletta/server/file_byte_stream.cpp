// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <filesystem>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"
#include "moviletta/server/byte_stream.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSource = "Moviletta.ByteStream";

class FileByteStream : public ByteStream {
 public:
  void Write(std::string_view bytes) override { bytes_.append(bytes); }

  void SaveToFile(const std::string& path) override {
    const fs::path target(path);
    std::error_code ec;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec))
      throw Error(err::kPathNotFound, "Path not found: " + folder.string(), kSource, ENOENT);

    // The cache never sees a half-written file; what the control keeps is its owner's alone.
    WriteFileWhole(path, bytes_, kSource, /*sync_to_disk=*/false, /*owner_only=*/true);
  }

 private:
  std::string bytes_;
};

}  // namespace

std::unique_ptr<ByteStream> FileByteStreamFactory::Create() {
  return std::make_unique<FileByteStream>();
}

}  // namespace moviletta
