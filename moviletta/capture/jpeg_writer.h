#pragma once

#include <string>

#include "moviletta/common/bitmap.h"

namespace moviletta {

// Writes `picture` to `path` as a JPEG file of `quality` (1 worst .. 100 best). Throws Error
// when the picture cannot be encoded or the file cannot be written.
void WriteJpeg(const Bitmap& picture, const std::string& path, int quality);

}  // namespace moviletta
