// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/overlay.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace moviletta {
namespace {

// A picture of every other pixel, the worst case for runs of pixels: as many runs as pixels
// halved. Shown pixels are white, the others transparent.
BitmapHandle Checkerboard(int side) {
  Bitmap picture{side, side, std::vector<uint8_t>(static_cast<std::size_t>(side) * side * 4)};
  for (int y = 0; y < side; ++y)
    for (int x = (y % 2); x < side; x += 2)
      std::fill_n(&picture.rgba[(static_cast<std::size_t>(y) * side + x) * 4], 4, 255);
  return std::make_shared<const Bitmap>(std::move(picture));
}

// A skin far larger than the frames it is laid over costs what falls on a frame, and lays the
// same pixels as it would whole.
TEST(PreparedOverlay, KeepsOnlyWhatFallsOnTheFrame) {
  constexpr int kWidth = 32, kHeight = 24, kLeft = -5, kTop = -3;
  const PreparedOverlay overlay(*Checkerboard(2048), kLeft, kTop, 0, kWidth, kHeight);
  EXPECT_EQ(overlay.spans(), std::size_t{kWidth} * kHeight / 2);

  std::vector<uint8_t> frame(std::size_t{kWidth} * kHeight * 4, 7);
  overlay.Composite(frame.data(), kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const bool on = (x - kLeft) % 2 == (y - kTop) % 2;
      EXPECT_EQ(frame[(static_cast<std::size_t>(y) * kWidth + x) * 4], on ? 255 : 7)
          << "at " << x << ", " << y;
    }
}

}  // namespace
}  // namespace moviletta
