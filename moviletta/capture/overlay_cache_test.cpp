// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/overlay_cache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace moviletta {
namespace {

// A white square of `side` pixels.
BitmapHandle Square(int side) {
  return std::make_shared<const Bitmap>(
      Bitmap{side, side, std::vector<uint8_t>(static_cast<std::size_t>(side) * side * 4, 255)});
}

// Whether the pixel at x, y of a frame of `width` shows the overlay (white over black).
bool Shows(const PreparedOverlay& overlay, int width, int height, int x, int y) {
  std::vector<uint8_t> frame(static_cast<std::size_t>(width) * height * 4, 0);
  overlay.Composite(frame.data(), width, height);
  return frame[(static_cast<std::size_t>(y) * width + x) * 4] == 255;
}

// An animated skin's frames are prepared once each, and scaled with their place from the
// capture size to the frames' size.
TEST(OverlayCache, PreparesEachFrameOnceAtTheFramesSize) {
  OverlayCache cache(std::size_t{1} << 20);
  const BitmapHandle first = Square(10), second = Square(10);
  const auto a = cache.Prepare(first, 20, 10, 0, 320, 240, 640, 480);
  const auto b = cache.Prepare(second, 20, 10, 0, 320, 240, 640, 480);
  EXPECT_NE(a, b);
  EXPECT_EQ(cache.Prepare(first, 20, 10, 0, 320, 240, 640, 480), a) << "laid again";
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_TRUE(Shows(*a, 640, 480, 40, 20)) << "the place is scaled";
  EXPECT_TRUE(Shows(*a, 640, 480, 59, 39)) << "the picture is scaled";
  EXPECT_FALSE(Shows(*a, 640, 480, 60, 40));
  EXPECT_NE(cache.Prepare(first, 20, 10, 0, 320, 240, 1280, 720), a) << "another frame size";
  EXPECT_EQ(cache.Prepare(nullptr, 0, 0, 0, 320, 240, 640, 480), nullptr);
}

// What the cache keeps stays within its bound: a skin that no one holds any longer is forgotten
// when the next one is laid, a bound that would be passed forgets everything, and an overlay
// larger than the bound is made but not kept.
TEST(OverlayCache, KeepsWithinItsBound) {
  const std::size_t one = PreparedOverlay(*Square(16), 0, 0, 0, 320, 240).bytes();
  OverlayCache cache(one * 2);
  BitmapHandle old_skin = Square(16);
  cache.Prepare(old_skin, 0, 0, 0, 320, 240, 320, 240);
  old_skin.reset();  // another skin loads
  const BitmapHandle kept = Square(16);
  cache.Prepare(kept, 0, 0, 0, 320, 240, 320, 240);
  EXPECT_EQ(cache.size(), 1u) << "the unheld skin is forgotten";
  EXPECT_EQ(cache.bytes(), one);

  const BitmapHandle second = Square(16), third = Square(16);
  cache.Prepare(second, 0, 0, 0, 320, 240, 320, 240);
  EXPECT_EQ(cache.bytes(), one * 2);
  cache.Prepare(third, 0, 0, 0, 320, 240, 320, 240);
  EXPECT_EQ(cache.size(), 1u) << "the bound was reached: only the newest is kept";
  EXPECT_LE(cache.bytes(), one * 2);

  const BitmapHandle large = Square(64);
  const auto made = cache.Prepare(large, 0, 0, 0, 320, 240, 320, 240);
  ASSERT_TRUE(made);
  EXPECT_GT(made->bytes(), one * 2);
  EXPECT_EQ(cache.size(), 0u) << "too large to keep";
  EXPECT_EQ(cache.bytes(), 0u);
}

}  // namespace
}  // namespace moviletta
