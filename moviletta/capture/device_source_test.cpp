// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/device_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>
#include <tuple>

#include "moviletta/capture/ffmpeg_capture_device.h"
#include "tests/fixtures/fifo_writer.h"
#include "tests/fixtures/media_probe.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int kFps = 30;
constexpr int kWidth = 160, kHeight = 120;
constexpr int kDeviceRate = 44100;  // the microphone's own rate, stereo float: converted on read
constexpr int kRecordRate = 22050;
constexpr int kRecordSeconds = 60;

// Marks at which both the picture flashes and the sound beeps, in seconds from the start.
bool Marked(double t, double length) {
  const double since = std::fmod(t - 2.5, 3.0);
  return t >= 2.5 && since >= 0 && since < length;
}
// The picture source stops delivering during these seconds (a stalled camera).
bool PictureStalled(double t) {
  return t >= 19 && std::fmod(t - 19, 21.0) < 0.6;
}

// A camera and a microphone on FIFOs, read through the same code as real devices. The
// microphone's clock runs `clock` times as fast as the wall clock.
class DeviceOnFifos : public ::testing::TestWithParam<double> {
 protected:
  DeviceOnFifos() {
    std::signal(SIGPIPE, SIG_IGN);
    fs::create_directories(folder_);
    ::mkfifo((folder_ / "camera").c_str(), 0600);
    ::mkfifo((folder_ / "microphone").c_str(), 0600);
  }
  ~DeviceOnFifos() override { fs::remove_all(folder_); }

  double Now() const { return Seconds(Clock::now() - start_).count(); }

  bool WritePicture(int fd) {
    const double t = Now();
    std::this_thread::sleep_until(start_ + std::chrono::duration_cast<Clock::duration>(
                                               Seconds((++pictures_) / double(kFps))));
    if (PictureStalled(t)) return true;
    std::vector<uint8_t> gray(kWidth * kHeight, Marked(t, 0.1) ? 255 : 16);
    return WriteAll(fd, gray.data(), gray.size());
  }

  bool WriteSound(int fd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const double t = Now();
    const double rate = kDeviceRate * GetParam();
    const auto due = static_cast<int64_t>(t * rate);
    std::vector<float> stereo;
    for (; samples_ < due; ++samples_) {
      const double taken = samples_ / rate;
      const float v = Marked(taken, 0.05) ? 0.8f * std::sin(2 * M_PI * 1000 * taken) : 0.0f;
      stereo.push_back(v), stereo.push_back(v);
    }
    return WriteAll(fd, stereo.data(), stereo.size() * sizeof(float));
  }

  // The engine's options for the two FIFOs.
  CaptureOptions Devices() const {
    return {.source = CaptureOptions::Source::kCamera,
            .camera = {"rawvideo",
                       (folder_ / "camera").string(),
                       {{"video_size", "160x120"}, {"pixel_format", "gray"}, {"framerate", "30"}},
                       "Test camera"},
            .microphone = {"f32le",
                           (folder_ / "microphone").string(),
                           {{"sample_rate", std::to_string(kDeviceRate)}, {"channels", "2"}},
                           "Test microphone"},
            .sample_rate = kRecordRate};
  }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-devices-" + std::to_string(getpid()));
  Clock::time_point start_ = Clock::now();
  int64_t pictures_ = 0;
  int64_t samples_ = 0;
};

// Positions (in seconds of the recording) where a run of marks starts in the pictures and in the
// sound.
std::vector<double> PictureMarks(const Tracks& tracks) {
  std::vector<double> marks;
  for (std::size_t i = 1; i < tracks.luma.size(); ++i)
    if (tracks.luma[i] > 128 && tracks.luma[i - 1] <= 128) marks.push_back(double(i) / kFps);
  return marks;
}
std::vector<double> SoundMarks(const Tracks& tracks) {
  std::vector<double> marks;
  std::size_t quiet = kRecordRate;
  for (std::size_t i = 0; i < tracks.sound.size(); ++i) {
    if (std::abs(tracks.sound[i]) < 8000) {
      ++quiet;
      continue;
    }
    if (quiet > kRecordRate / 10) marks.push_back(double(i) / kRecordRate);
    quiet = 0;
  }
  return marks;
}

TEST_P(DeviceOnFifos, SoundStaysWithThePictureThroughClockDriftAndStalls) {
  FifoWriter camera(folder_ / "camera", [this](int fd) { return WritePicture(fd); });
  FifoWriter microphone(folder_ / "microphone", [this](int fd) { return WriteSound(fd); });
  std::mutex mutex;
  std::condition_variable ended;
  std::optional<std::optional<Error>> end;
  {
    FfmpegCaptureDevice engine(Devices());
    engine.OnCaptureEnd([&](std::optional<Error> failure) {
      std::lock_guard lock(mutex);
      end = std::move(failure);
      ended.notify_all();
    });
    // The engine itself stalls too: a listener that takes 400 ms now and then.
    std::atomic<int> stalls{0};
    engine.SetFrameListener([this, &stalls](const BitmapHandle&) {
      if (Now() > 12 + 19 * stalls && stalls < 3) {
        ++stalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
      }
    });
    engine.SetCaptureSize(kWidth, kHeight);
    engine.SetFrameRate(kFps);
    engine.SetPreview(true);
    engine.SetConnected(true);
    engine.SetTimeLimitEnabled(true);
    engine.SetTimeLimit(kRecordSeconds);
    engine.SetCaptureFileName((folder_ / "take.avi").string());
    engine.StartCapture();
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ended.wait_for(lock, std::chrono::seconds(kRecordSeconds + 15),
                               [&] { return end.has_value(); }));
    ASSERT_EQ(*end, std::nullopt) << (*end)->description();
  }

  const Tracks tracks = DecodeTracks((folder_ / "take.avi").string());
  EXPECT_NEAR(double(tracks.sound.size()) / kRecordRate, double(tracks.luma.size()) / kFps,
              1.0 / kFps)
      << "the sound lasts as long as the pictures";
  const std::vector<double> pictures = PictureMarks(tracks);
  const std::vector<double> sounds = SoundMarks(tracks);
  EXPECT_GE(pictures.size(), std::size_t{kRecordSeconds / 3 - 2});
  ASSERT_EQ(pictures.size(), sounds.size())
      << ::testing::PrintToString(pictures) << " " << ::testing::PrintToString(sounds);
  for (std::size_t i = 0; i < pictures.size(); ++i)
    EXPECT_NEAR(sounds[i], pictures[i], 0.040) << "mark " << i << " at " << pictures[i] << " s";
}

INSTANTIATE_TEST_SUITE_P(MicrophoneClock, DeviceOnFifos, ::testing::Values(1.01, 0.99),
                         [](const auto& param) { return param.param > 1 ? "Fast" : "Slow"; });

// The sides of the white box in an RGBA picture, through its middle.
std::pair<int, int> WhiteBox(const std::vector<uint8_t>& rgba, int width, int height) {
  const auto white = [&](int x, int y) { return rgba[(std::size_t(y) * width + x) * 4] > 128; };
  int across = 0, down = 0;
  for (int x = 0; x < width; ++x) across += white(x, height / 2);
  for (int y = 0; y < height; ++y) down += white(width / 2, y);
  return {across, down};
}

// A camera of another shape than the pictures asked for: its middle is kept, never stretched.
TEST(DeviceSourceShape, ACameraPictureOfAnotherShapeIsCroppedNotStretched) {
  const fs::path folder =
      fs::temp_directory_path() / ("moviletta-shape-" + std::to_string(getpid()));
  fs::create_directories(folder);
  ::mkfifo((folder / "camera").c_str(), 0600);
  constexpr int kCameraWidth = 64, kCameraHeight = 36, kSide = 18;  // a wide camera, a square
  std::vector<uint8_t> picture(kCameraWidth * kCameraHeight, 16);
  for (int y = (kCameraHeight - kSide) / 2; y < (kCameraHeight + kSide) / 2; ++y)
    for (int x = (kCameraWidth - kSide) / 2; x < (kCameraWidth + kSide) / 2; ++x)
      picture[y * kCameraWidth + x] = 235;
  FifoWriter camera(folder / "camera", [&](int fd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return WriteAll(fd, picture.data(), picture.size());
  });
  {
    DeviceSource source({"rawvideo",
                         (folder / "camera").string(),
                         {{"video_size", "64x36"}, {"pixel_format", "gray"}, {"framerate", "30"}},
                         "Wide camera"},
                        {}, kRecordRate);
    // The greeting's shapes: 4:3 at the camera's height (the square as it was), and 2:3 at twice
    // the camera's height (the square twice as large).
    for (const auto& [width, height, side] : {std::tuple{48, 36, kSide}, {48, 72, 2 * kSide}}) {
      std::vector<uint8_t> rgba(std::size_t(width) * height * 4);
      std::pair<int, int> box;
      for (int i = 0; i < 200 && box.first == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        source.Video(i, width, height, rgba.data());
        box = WhiteBox(rgba, width, height);
      }
      EXPECT_NEAR(box.first, side, 2) << width << " x " << height;
      EXPECT_NEAR(box.second, side, 2) << width << " x " << height;
    }
  }
  fs::remove_all(folder);
}

using VanishingCamera = DeviceOnFifos;

// A camera unplugged during a recording ends it with a text a person understands, and the take
// so far is whole: every frame written decodes, sound and all.
TEST_P(VanishingCamera, EndsTheRecordingWithAPlainTextAndKeepsTheTake) {
  FifoWriter camera(folder_ / "camera", [this](int fd) { return Now() < 2.0 && WritePicture(fd); });
  FifoWriter microphone(folder_ / "microphone", [this](int fd) { return WriteSound(fd); });
  std::promise<std::optional<Error>> end;
  std::string told;  // to the host, for the person
  FfmpegCaptureDevice engine(Devices());
  engine.SetFailureListener([&](const Error& failure) { told = failure.description(); });
  engine.OnCaptureEnd([&](std::optional<Error> failure) { end.set_value(std::move(failure)); });
  engine.SetCaptureSize(kWidth, kHeight);
  engine.SetFrameRate(kFps);
  engine.SetPreview(true);
  engine.SetConnected(true);
  engine.SetCaptureFileName((folder_ / "take.avi").string());
  engine.StartCapture();
  auto ended = end.get_future();
  ASSERT_EQ(ended.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const std::optional<Error> failure = ended.get();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->description(),
            "The camera Test camera stopped delivering pictures (it may have been unplugged): the "
            "recording ends here.");
  EXPECT_EQ(told, failure->description());
  EXPECT_FALSE(engine.IsCapturing());

  const Tracks tracks = DecodeTracks((folder_ / "take.avi").string());
  EXPECT_GE(tracks.luma.size(), std::size_t{kFps / 2}) << "about a second went by recording";
  EXPECT_NEAR(double(tracks.sound.size()) / kRecordRate, double(tracks.luma.size()) / kFps,
              1.0 / kFps);
}

INSTANTIATE_TEST_SUITE_P(Unplugged, VanishingCamera, ::testing::Values(1.0));

}  // namespace
}  // namespace moviletta::testing
