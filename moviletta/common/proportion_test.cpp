// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/proportion.h"

#include <gtest/gtest.h>

namespace moviletta {
namespace {

TEST(CentredCrop, KeepsTheGreetingsShapeFromTheMiddleOfAnyCameraPicture) {
  // A wide camera loses its sides, a tall one its top and bottom; one of the shape loses nothing.
  EXPECT_EQ(CentredCrop(1280, 720, 320, 240), (PictureCrop{160, 0, 960, 720}));
  EXPECT_EQ(CentredCrop(640, 480, 176, 144), (PictureCrop{26, 0, 586, 480}));
  EXPECT_EQ(CentredCrop(720, 1280, 320, 240), (PictureCrop{0, 370, 720, 540}));
  EXPECT_EQ(CentredCrop(640, 480, 320, 240), (PictureCrop{0, 0, 640, 480}));
  // Edges and sides stay even, so that half-size chroma planes are cut at the same place.
  const PictureCrop odd = CentredCrop(1366, 768, 4, 3);
  EXPECT_EQ(odd.width % 2 + odd.height % 2 + odd.x % 2 + odd.y % 2, 0);
  EXPECT_LE(odd.x + odd.width, 1366);
  // No shape, or a shape far thinner than the picture: the whole picture, or a sliver of 2.
  EXPECT_EQ(CentredCrop(640, 480, 0, 0), (PictureCrop{0, 0, 640, 480}));
  EXPECT_EQ(CentredCrop(640, 480, 1, 4096).width, 2);
}

TEST(CentredFit, PutsTheWholePictureInTheMiddleOfABoxOfAnotherShape) {
  EXPECT_EQ(CentredFit(320, 240, 320, 120), (PictureCrop{80, 0, 160, 120}));
  EXPECT_EQ(CentredFit(320, 240, 176, 144), (PictureCrop{0, 6, 176, 132}));
  EXPECT_EQ(CentredFit(960, 720, 320, 240), (PictureCrop{0, 0, 320, 240}));
  EXPECT_EQ(CentredFit(0, 240, 320, 240), (PictureCrop{0, 0, 320, 240}));
}

}  // namespace
}  // namespace moviletta
