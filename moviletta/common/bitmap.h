// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace moviletta {

// A decoded picture: `width` x `height` pixels, 4 bytes each (R, G, B, A), row by row.
struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;
};

// A loaded picture as the components receive it; null means no picture.
using BitmapHandle = std::shared_ptr<const Bitmap>;

}  // namespace moviletta
