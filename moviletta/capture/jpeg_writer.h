#pragma once

#include <string>

#include "moviletta/common/bitmap.h"

namespace moviletta {

// `picture` as the bytes of a JPEG file of `quality` (1 worst .. 100 best). Throws Error when it
// cannot be encoded.
std::string EncodeJpeg(const Bitmap& picture, int quality);

// Writes EncodeJpeg's bytes to `path`. Throws Error when the file cannot be written either.
void WriteJpeg(const Bitmap& picture, const std::string& path, int quality);

}  // namespace moviletta
