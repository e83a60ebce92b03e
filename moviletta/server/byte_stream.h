// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace moviletta {

// Bytes collected in memory and saved to a file. Host thread only.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Appends `bytes`.
  virtual void Write(std::string_view bytes) = 0;

  // Writes everything written so far to `path`, creating or replacing the file. The file appears
  // under its name only once it is complete. Throws Error 76 when the folder is missing, 75 when
  // the file cannot be written.
  virtual void SaveToFile(const std::string& path) = 0;
};

class ByteStreamFactory {
 public:
  virtual ~ByteStreamFactory() = default;
  virtual std::unique_ptr<ByteStream> Create() = 0;
};

// Streams saved with std::ofstream.
class FileByteStreamFactory : public ByteStreamFactory {
 public:
  std::unique_ptr<ByteStream> Create() override;
};

}  // namespace moviletta
