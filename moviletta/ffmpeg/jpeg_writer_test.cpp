// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures into the JPEG colour space of snapshots and recordings: thin coloured details of a
// skin keep their colour (the colour planes are filtered, not point sampled).
#include "moviletta/ffmpeg/jpeg_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "moviletta/capture/avi_recorder.h"
#include "tests/fixtures/media_probe.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

// White, with red lines one pixel wide across on rows 8 and 13 and down on columns 8 and 13:
// each of an even and an odd place, where 4:2:0 keeps one colour for two rows and two columns.
Bitmap ThinRedLines() {
  Bitmap picture{32, 32, std::vector<uint8_t>(32 * 32 * 4, 255)};
  for (std::size_t i = 0; i < 32; ++i)
    for (const std::size_t line : {8u, 13u})
      for (const std::size_t at : {(line * 32 + i) * 4, (i * 32 + line) * 4})
        picture.rgba[at + 1] = picture.rgba[at + 2] = 0;
  return picture;
}

// How much redder than green the pixel is.
int Redness(const Bitmap& picture, int x, int y) {
  const uint8_t* p = &picture.rgba[(static_cast<std::size_t>(y) * picture.width + x) * 4];
  return p[0] - p[1];
}

class ThinEdges : public ::testing::Test {
 protected:
  ~ThinEdges() override { fs::remove_all(folder_); }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-edges-" + std::to_string(getpid()));
  Bitmap picture_ = ThinRedLines();

  void SetUp() override { fs::create_directories(folder_); }
};

TEST_F(ThinEdges, KeepTheirColourInSnapshotsAndRecordings) {
  WriteJpeg(picture_, Path("snapshot.jpg"), 100);
  {
    AviRecorder recorder(Path("take.avi"), 32, 32, 15, 22050);
    recorder.Write(picture_.rgba.data(), nullptr, 0);
    recorder.Finish();
  }
  for (const std::string& file : {Path("snapshot.jpg"), Path("take.avi")}) {
    const Bitmap decoded = DecodePicture(file, 0);
    for (const int line : {8, 13}) {
      EXPECT_GT(Redness(decoded, 20, line), 60) << file << ": the line across row " << line;
      EXPECT_GT(Redness(decoded, line, 20), 60) << file << ": the line down column " << line;
    }
    EXPECT_LT(Redness(decoded, 20, 20), 20) << file << ": white stays white";
  }
}

}  // namespace
}  // namespace moviletta::testing
