// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/gif_picture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "moviletta/common/error.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/process_memory.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class GifPictureTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (folder_ / name).string();
    WriteFile(path, bytes);
    return path;
  }
  void SetUp() override { fs::create_directories(folder_); }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-gif-" + std::to_string(getpid()));
};

std::vector<uint8_t> Pixel(const Bitmap& b, int x, int y) {
  const auto at = b.rgba.begin() + (y * b.width + x) * 4;
  return {at, at + 4};
}

// However little the file, a picture costs its bitmap and little more: a header that promises
// more pixels than the loader takes, or more bytes than are left, is refused before decoding.
TEST_F(GifPictureTest, APictureCostsItsBitmapAndAHeaderPromisingMoreIsRefusedFirst) {
  const auto write_solid = [&](const std::string& name, int side) {
    TestGif gif{.width = side,
                .height = side,
                .pixels = std::vector<uint8_t>(static_cast<std::size_t>(side) * side, 1)};
    return Write(name, GifBytes(gif));
  };
  const std::string huge = write_solid("huge.gif", 4096);
  const std::string largest = write_solid("largest.gif", 2048);
  ASSERT_LT(fs::file_size(huge), std::uintmax_t{64} << 10) << "a small file";
  constexpr std::size_t kBitmap = std::size_t{2048} * 2048 * 4;

  ResetPeakMemory();
  const std::size_t before = ResidentMemory();
  try {
    LoadGifPicture(huge);
    ADD_FAILURE() << "a 4096 x 4096 picture was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kInvalidPicture) << e.description();
  }
  try {
    LoadGifPicture(largest, kBitmap - 1);
    ADD_FAILURE() << "a picture larger than the room left was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kOutOfMemory) << e.description();
  }
  if (kMemoryMeasured) {
    EXPECT_LT(PeakMemory(), before + (std::size_t{1} << 20)) << "refused before decoding";
  }
  const BitmapHandle picture = LoadGifPicture(largest, kBitmap);
  EXPECT_EQ(picture->width, 2048);
  EXPECT_EQ(Pixel(*picture, 2047, 2047), (std::vector<uint8_t>{255, 255, 255, 255}));
  if (kMemoryMeasured) {
    EXPECT_LT(PeakMemory(), before + kBitmap + (std::size_t{2} << 20))
        << "peak " << ((PeakMemory() - before) >> 20) << " MiB for a 16 MiB bitmap";
  }
}

TEST_F(GifPictureTest, DecodesColoursTransparencyPlacementAndInterlace) {
  TestGif gif{.width = 2,
              .height = 9,
              .palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}},
              .transparent = 3,
              .left = 1,
              .top = 2,
              .screen_width = 4,
              .screen_height = 12};
  gif.pixels.clear();
  for (int y = 0; y < 9; ++y) gif.pixels.insert(gif.pixels.end(), {uint8_t(y % 3), 3});
  const BitmapHandle plain = LoadGifPicture(Write("plain.gif", GifBytes(gif)));
  gif.interlace = true;
  const BitmapHandle interlaced = LoadGifPicture(Write("interlaced.gif", GifBytes(gif)));

  ASSERT_EQ(plain->width, 4);
  ASSERT_EQ(plain->height, 12);
  EXPECT_EQ(Pixel(*plain, 1, 2), (std::vector<uint8_t>{255, 0, 0, 255}));
  EXPECT_EQ(Pixel(*plain, 1, 3), (std::vector<uint8_t>{0, 255, 0, 255}));
  EXPECT_EQ(Pixel(*plain, 1, 4), (std::vector<uint8_t>{0, 0, 255, 255}));
  EXPECT_EQ(Pixel(*plain, 2, 2)[3], 0) << "the transparent index";
  EXPECT_EQ(Pixel(*plain, 0, 0)[3], 0) << "outside the picture";
  EXPECT_EQ(plain->rgba, interlaced->rgba);
}

TEST_F(GifPictureTest, RefusesHostileFilesCleanly) {
  const std::string good = SolidGif(4, 4, {1, 2, 3});
  // Logical screen descriptor: bytes 6..9 are width and height, byte 10 the colour table flags.
  const auto patched = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
    std::string copy = good;
    for (uint8_t b : bytes) copy[at++] = static_cast<char>(b);
    return copy;
  };
  // A picture whose indexes (up to 200) lie beyond a colour table cut down to 2 entries.
  TestGif wide{
      .width = 2, .height = 1, .palette = std::vector<Rgb>(256, {5, 5, 5}), .pixels = {200, 1}};
  std::string beyond = GifBytes(wide);
  beyond[10] = static_cast<char>((beyond[10] & ~0x07) | 0x00);
  beyond.erase(13 + 6, 3 * 254);

  std::string no_map = good;
  no_map[10] = static_cast<char>(no_map[10] & 0x7F);
  no_map.erase(13, 6);  // the 2-entry table

  const std::pair<const char*, std::string> hostile[] = {
      {"not a GIF", "hello, I am not a picture"},
      {"header only", "GIF89a"},
      {"zero size", patched(6, {0, 0, 0, 0})},
      {"huge screen", patched(6, {0xFF, 0xFF, 0xFF, 0xFF})},
      {"just over the cap", patched(6, {0x01, 0x10, 0x04, 0x00})},
      {"more pixels than the cap", patched(6, {0x01, 0x08, 0x00, 0x08})},
      {"truncated data", good.substr(0, good.size() - 6)},
      {"no picture", good.substr(0, 13 + 6) + ";"},
      {"unknown record", good.substr(0, 13 + 6) + "X"},
      {"no colour map", no_map},
      {"index beyond the map", beyond},
  };
  for (const auto& [what, bytes] : hostile) {
    try {
      LoadGifPicture(Write("hostile.gif", bytes));
      ADD_FAILURE() << what << " was accepted";
      continue;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kInvalidPicture) << what << ": " << e.description();
    }
  }

  // A picture lying partly outside its screen: cut the screen down to 2 x 2.
  try {
    LoadGifPicture(Write("outside.gif", patched(6, {2, 0, 2, 0})));
    ADD_FAILURE() << "a picture outside its screen was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kInvalidPicture);
  }
  try {
    LoadGifPicture((folder_ / "missing.gif").string());
    ADD_FAILURE() << "a missing file was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
  }
}

}  // namespace
}  // namespace moviletta::testing
