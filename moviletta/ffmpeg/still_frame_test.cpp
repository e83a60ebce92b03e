// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a recording at a moment: the test recording's grey square moves 4 pixels a
// frame, so where it stands tells which picture came back.
#include "moviletta/ffmpeg/still_frame.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "moviletta/common/error.h"
#include "tests/fixtures/recordings.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

// The first column of the grey square on the picture's middle row; -1 without one.
int SquareLeft(const Bitmap& picture) {
  const int y = picture.height / 2;
  for (int x = 0; x < picture.width; ++x) {
    const uint8_t* p = &picture.rgba[(static_cast<std::size_t>(y) * picture.width + x) * 4];
    if (std::abs(p[0] - 128) < 24 && std::abs(p[1] - 128) < 24 && std::abs(p[2] - 128) < 24)
      return x;
  }
  return -1;
}

TEST(StillAt, GivesThePictureShowingAtTheMomentAskedFor) {
  const fs::path folder = fs::temp_directory_path() / ("still-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const std::string recording = (folder / "take.avi").string();
  MakeRecording(recording, 2, 320, 240, 10);  // 20 pictures, the square at 4n

  const Bitmap first = StillAt(recording, 0);
  EXPECT_EQ(first.width, 320);
  EXPECT_EQ(first.height, 240);
  EXPECT_NEAR(SquareLeft(first), 0, 2);
  EXPECT_NEAR(SquareLeft(StillAt(recording, 1.25)), 4 * 12, 2) << "the picture of 1.2 s";
  EXPECT_NEAR(SquareLeft(StillAt(recording, 0.7)), 4 * 7, 2);
  EXPECT_NEAR(SquareLeft(StillAt(recording, 60)), 4 * 19, 2) << "past the end: the last picture";
  EXPECT_NEAR(SquareLeft(StillAt(recording, -3)), 0, 2);

  EXPECT_THROW(StillAt((folder / "none.avi").string(), 0), Error);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace moviletta::testing
