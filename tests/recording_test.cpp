// SPDX-License-Identifier: GPL-3.0-or-later
// The control with the real capture engine and player on the synthetic source.
#include <gtest/gtest.h>

#include <filesystem>

#include "moviletta/capture/ffmpeg_capture_device.h"
#include "moviletta/capture/ffmpeg_player.h"
#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/media_probe.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class RealRecordingTest : public ::testing::Test {
 protected:
  RealRecordingTest() {
    server.SetSettings(SettingsDocument(server.address(),
                                        {{"SECLIMIT", "1"}, {"FPS", "15"}, {"ANIMPREVIEW", "0"}}));
    harness.customize = [](Components& c) {
      c.VideoCapX1 = std::make_unique<FfmpegCaptureDevice>(
          CaptureOptions{.source = CaptureOptions::Source::kSynthetic});
      c.VideoCapX2 = std::make_unique<FfmpegPlayer>();
    };
    EXPECT_EQ(harness.Start(), std::nullopt);
  }

  // Processes host events until the status is `status` or 10 seconds have passed.
  bool AwaitStatus(int32_t status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (harness.control().ClientStatus() != status) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      harness.host.ProcessPendingEvents(std::chrono::milliseconds(20));
    }
    return true;
  }
  std::string Output(const std::string& name) const { return harness.app_directory + "/" + name; }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
};

TEST_F(RealRecordingTest, RecordsPlaysAndStops) {
  harness.control().RecordVideo();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_RECORDING);
  ASSERT_TRUE(AwaitStatus(STATUS_STOPPED)) << "the time limit ends the capture";
  const MediaInfo take = Probe(Output("Moviletta.avi"));
  EXPECT_EQ(take.video_frames, 15);
  EXPECT_EQ(take.audio_codec, "pcm_s16le");
  EXPECT_EQ(Probe(Output("Moviletta.jpg")).video_codec, "mjpeg");

  harness.control().PlayVideo();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_PLAYING);
  ASSERT_TRUE(AwaitStatus(STATUS_STOPPED)) << "the end of the playback";

  harness.control().PlayVideo();
  harness.control().StopVideo();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_TRUE(server.RequestsTo("/clientErrLog.asp").empty());
}

TEST_F(RealRecordingTest, AnAnimatedSkinIsCycledIntoTheRecording) {
  const std::string folder = harness.app_directory + "/SKINS/ml_skin_42/";
  fs::create_directories(folder);
  const Rgb colours[] = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}};
  for (int i = 0; i < 3; ++i)
    WriteFile(folder + std::to_string(i + 1) + ".gif", SolidGif(320, 240, colours[i]));
  harness.control().LoadSkin(42);
  harness.control().RecordVideo();  // returns once the capture has ended
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  std::set<int> seen;
  const MediaInfo take = Probe(Output("Moviletta.avi"));
  ASSERT_EQ(take.video_frames, 15);
  for (int n = 0; n < take.video_frames; ++n) {
    const Bitmap picture = DecodePicture(Output("Moviletta.avi"), n);
    for (int i = 0; i < 3; ++i)
      if (PixelDistance(picture, 100, 100,
                        Bitmap{1, 1, {colours[i].r, colours[i].g, colours[i].b, 255}}, 0, 0) < 20)
        seen.insert(i);
  }
  EXPECT_EQ(seen.size(), 3u) << "every frame of the skin reached the recording";
  EXPECT_TRUE(server.RequestsTo("/clientErrLog.asp").empty());
}

}  // namespace
}  // namespace moviletta::testing
