// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/picture_slots.h"

#include <gtest/gtest.h>

#include "moviletta/common/error.h"

namespace moviletta {
namespace {

BitmapHandle Picture(int width, int height) {
  return std::make_shared<const Bitmap>(
      Bitmap{width, height, std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 4)});
}

TEST(PictureSlots, DecodedPicturesStayWithinTheBudget) {
  PictureSlots slots(/*budget_bytes=*/3 * 100 * 4);  // three 10 x 10 pictures
  slots.SetPicture(1, Picture(10, 10));
  for (int32_t index = 2; index <= 3; ++index) {
    slots.Create(index);
    slots.SetPicture(index, Picture(10, 10));
  }
  slots.Create(4);
  try {
    slots.SetPicture(4, Picture(10, 10));
    FAIL() << "a fourth picture went beyond the budget";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kOutOfMemory);
  }
  EXPECT_EQ(slots.Picture(4), nullptr) << "the slot keeps what it had";
  EXPECT_EQ(slots.bytes(), 1200u);
  EXPECT_EQ(slots.Room(4), 0u) << "what a loader may decode for the slot";
  EXPECT_EQ(slots.Room(2), 400u) << "a slot's own picture makes room when replaced";

  slots.SetPicture(2, Picture(5, 5));  // replacing counts only the new picture
  slots.SetPicture(4, Picture(7, 7));
  slots.Remove(3);
  slots.SetPicture(1, Picture(10, 10));
  EXPECT_EQ(slots.bytes(), (100 + 25 + 49) * 4u);
}

}  // namespace
}  // namespace moviletta
