// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "moviletta/common/bitmap.h"

namespace moviletta {

// The picture of the video file at `path` that shows at `seconds` from its start (its first
// picture for 0 or less, its last for a time past its end), at the file's own size. Any thread;
// throws Error when the file cannot be read or holds no picture.
Bitmap StillAt(const std::string& path, double seconds);

}  // namespace moviletta
