// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/encoding/transcode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "moviletta/common/error.h"
#include "moviletta/encoding/video_editor.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/media_probe.h"
#include "tests/fixtures/recordings.h"
#include "tests/fixtures/scoped_umask.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class TranscodeTest : public ::testing::Test {
 protected:
  TranscodeTest() { fs::create_directories(folder_); }
  ~TranscodeTest() override { fs::remove_all(folder_); }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_ =
      fs::temp_directory_path() / ("moviletta-transcode-" + std::to_string(getpid()));
};

// The pipeline stays deterministic: whatever its threads do when, the file is the one that one
// thread writes, for both formats, with the size, the rates and the span changed; a greeting is
// its owner's alone, whatever the host's umask.
TEST_F(TranscodeTest, ThePipelineWritesTheSameBytesAsOneThread) {
  const testing::ScopedUmask usual(022);
  MakeRecording(Path("take.avi"), 4, 320, 240, 15);
  TranscodeJob wmv{.input = Path("take.avi"), .end = 4, .format = kOutputFormatWmv, .fps = 15};
  TranscodeJob mpeg{.input = Path("take.avi"),
                    .start = 0.5,
                    .end = 3.5,
                    .format = kOutputFormatMpeg,
                    .fps = 25,
                    .width = 176,
                    .height = 144,
                    .sample_rate = 16000,
                    .audio_bit_rate = 48000};
  // A recording without sound leaves the sound worker without work.
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=s=160x120:r=15:d=2 -c:v mjpeg "
                         "-an " +
                         Path("silent.avi"))
                            .c_str()),
            0);
  TranscodeJob silent{.input = Path("silent.avi"), .end = 2, .format = kOutputFormatWmv, .fps = 15};
  const std::atomic<bool> cancel{false};
  for (TranscodeJob job : {wmv, mpeg, silent}) {
    std::string bytes[2];
    for (int threads : {1, 0}) {
      job.threads = threads;
      job.output = Path("out-" + std::to_string(threads));
      Transcode(job, cancel, [](double, double) {});
      bytes[threads == 1] = ReadFile(job.output);
      EXPECT_EQ(testing::PermissionsOf(job.output), fs::perms::owner_read | fs::perms::owner_write);
    }
    ASSERT_GT(bytes[0].size(), 5000u);
    EXPECT_TRUE(bytes[0] == bytes[1]) << "format " << job.format << ": " << bytes[0].size()
                                      << " bytes against " << bytes[1].size();
  }
}

// A size of another shape than the recording's gets the whole picture in proportion, with black
// bars beside it, never a stretched one.
TEST_F(TranscodeTest, AnOutputOfAnotherShapeIsLetterboxedNotStretched) {
  MakeRecording(Path("take.avi"), 1, 320, 240, 15);  // its box is 30 x 30
  const std::atomic<bool> cancel{false};
  for (const auto& [width, height, side] : {std::tuple{320, 120, 15}, {160, 240, 15}}) {
    const TranscodeJob job{.input = Path("take.avi"),
                           .end = 1,
                           .output = Path("wide.mpg"),
                           .format = kOutputFormatMpeg,
                           .fps = 25,
                           .width = width,
                           .height = height};
    Transcode(job, cancel, [](double, double) {});
    const Bitmap picture = DecodePicture(job.output, 3);
    ASSERT_EQ(std::pair(picture.width, picture.height), std::pair(width, height));
    const auto [across, down] = BoxSides(picture);
    EXPECT_NEAR(across, side, 2) << width << " x " << height;
    EXPECT_NEAR(down, side, 2) << width << " x " << height;
    const Bitmap black{1, 1, {0, 0, 0, 255}};
    EXPECT_LT(PixelDistance(picture, 2, 2, black, 0, 0), 12) << "a bar at the corner";
  }
}

// A pipeline that is cancelled, or whose listener throws, ends every thread and leaves nothing.
TEST_F(TranscodeTest, APipelineThatStopsHalfwayEndsAllItsThreadsAndLeavesNoFile) {
  MakeRecording(Path("take.avi"), 4, 320, 240, 15);
  const TranscodeJob job{.input = Path("take.avi"),
                         .end = 4,
                         .output = Path("out.wmv"),
                         .format = kOutputFormatWmv,
                         .fps = 15};
  std::atomic<bool> cancel{false};
  EXPECT_THROW(Transcode(job, cancel, [&](double, double) { cancel = true; }), Error);
  cancel = false;
  EXPECT_THROW(Transcode(job, cancel,
                         [](double, double) { throw Error(err::kComponentFailed, "listener"); }),
               Error);
  EXPECT_FALSE(fs::exists(Path("out.wmv")));
  EXPECT_FALSE(fs::exists(Path(".out.wmv.part")));
}

}  // namespace
}  // namespace moviletta::testing
