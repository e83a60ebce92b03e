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

// An opaque black picture of `width` x `height`.
inline Bitmap BlackBitmap(int width, int height) {
  Bitmap black{width, height, std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 4)};
  for (std::size_t alpha = 3; alpha < black.rgba.size(); alpha += 4) black.rgba[alpha] = 255;
  return black;
}

}  // namespace moviletta
