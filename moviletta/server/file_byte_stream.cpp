#include <cerrno>
#include <filesystem>
#include <fstream>

#include "moviletta/common/error.h"
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

    // A hidden name beside the target: the cache never sees a half-written file.
    const fs::path partial = folder / ("." + target.filename().string() + ".part");
    {
      std::ofstream out(partial, std::ios::binary | std::ios::trunc);
      out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
      out.close();
      if (!out) {
        const int os_error = errno;
        fs::remove(partial, ec);
        throw Error(err::kPathFileAccess, "cannot write " + path, kSource, os_error);
      }
    }
    fs::rename(partial, target, ec);
    if (ec) {
      const int os_error = ec.value();
      fs::remove(partial, ec);
      throw Error(err::kPathFileAccess, "cannot write " + path, kSource, os_error);
    }
  }

 private:
  std::string bytes_;
};

}  // namespace

std::unique_ptr<ByteStream> FileByteStreamFactory::Create() {
  return std::make_unique<FileByteStream>();
}

}  // namespace moviletta
