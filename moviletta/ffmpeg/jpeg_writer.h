// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "moviletta/common/bitmap.h"

namespace moviletta {

// `picture` as the bytes of a JPEG file of `quality` (1 worst .. 100 best). Throws Error when it
// cannot be encoded.
std::string EncodeJpeg(const Bitmap& picture, int quality);

// Writes EncodeJpeg's bytes to `path`, whole or not at all (a failure leaves the former file).
// Throws Error when the picture cannot be encoded or the file cannot be written.
void WriteJpeg(const Bitmap& picture, const std::string& path, int quality);

}  // namespace moviletta
