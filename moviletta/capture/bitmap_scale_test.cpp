// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/bitmap_scale.h"

#include <gtest/gtest.h>

namespace moviletta {
namespace {

// A window of another shape than the picture shows all of it, unstretched, between black bars.
TEST(FitBitmap, LaysAPictureOfAnotherShapeBetweenBars) {
  Bitmap red{8, 4, std::vector<uint8_t>(8 * 4 * 4)};
  for (std::size_t i = 0; i < red.rgba.size(); i += 4) red.rgba[i] = red.rgba[i + 3] = 255;
  const BitmapHandle fitted = FitBitmap(std::make_shared<const Bitmap>(red), 8, 8);
  ASSERT_EQ(std::pair(fitted->width, fitted->height), std::pair(8, 8));
  for (int y = 0; y < 8; ++y) {
    const uint8_t* pixel = &fitted->rgba[static_cast<std::size_t>(y) * 8 * 4 + 12];
    const bool inside = y >= 2 && y < 6;
    EXPECT_EQ(pixel[0], inside ? 255 : 0) << "row " << y;
    EXPECT_EQ(pixel[3], 255) << "row " << y << " is opaque";
  }
  EXPECT_EQ(FitBitmap(fitted, 8, 8), fitted) << "the same size is the same picture";
}

}  // namespace
}  // namespace moviletta
