#pragma once

#include <string>
#include <string_view>

namespace moviletta {

// Replaces the file at `path` with `bytes` as a whole or not at all: they are written under a
// hidden temporary name beside it and renamed over it. Throws Error 75 naming the file when that
// fails, leaving the former file as it was and no temporary one.
void WriteFileWhole(const std::string& path, std::string_view bytes);

}  // namespace moviletta
