// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/ffmpeg_capture_device.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <future>

#include "moviletta/capture/alsa_audio_output.h"
#include "moviletta/capture/fake_audio_output.h"
#include "moviletta/capture/ffmpeg_player.h"
#include "moviletta/capture/synthetic_source.h"
#include "moviletta/common/constants.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/media_probe.h"
#include "tests/fixtures/scoped_umask.h"
#include "tests/fixtures/small_disk.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

// A connected engine on the synthetic source, 320 x 240 at 15 frames a second.
class CaptureEngineTest : public ::testing::Test {
 protected:
  CaptureEngineTest() {
    fs::create_directories(folder_);
    engine_.OnCaptureEnd([this](std::optional<Error> failure) {
      std::lock_guard lock(mutex_);
      ends_.push_back(std::move(failure));
      ended_.notify_all();
    });
    engine_.SetSourceIndex(0);
    engine_.SetCaptureSize(320, 240);
    engine_.SetFrameRate(15);
    engine_.SetPreview(true);
    engine_.SetTimeLimitEnabled(true);
    engine_.SetConnected(true);
  }
  ~CaptureEngineTest() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  // Records into `name` until the capture ends by itself; returns the failure that ended it.
  // A recording that a failure ended is whole: the RIFF header tells the whole file, the index
  // is written, and what was written plays to its last frame.
  static void ExpectWholeRecording(const std::string& path) {
    const std::string file = ReadFile(path);
    ASSERT_GT(file.size(), 12u);
    uint32_t riff_size = 0;
    std::memcpy(&riff_size, file.data() + 4, 4);
    EXPECT_EQ(riff_size + 8u, file.size()) << "the RIFF header tells the whole file";
    EXPECT_NE(file.find("idx1"), std::string::npos) << "the index is written";
    const int frames = Probe(path).video_frames;
    EXPECT_GT(frames, 3) << "what was written stays playable";
    EXPECT_EQ(DecodePicture(path, frames - 1).width, 320) << "the last frame whole";
  }

  std::optional<Error> Record(const std::string& name, int seconds) {
    const std::size_t captures = ends_.size() + 1;
    engine_.SetTimeLimit(seconds);
    engine_.SetCaptureFileName(Path(name));
    engine_.StartCapture();
    EXPECT_TRUE(engine_.IsCapturing());
    return WaitForEnd(captures, std::chrono::seconds(seconds + 10));
  }
  // The failure that ended capture number `capture` (from 1), once it has ended.
  std::optional<Error> WaitForEnd(std::size_t capture, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ended_.wait_for(lock, timeout, [&] { return ends_.size() >= capture; })) {
      ADD_FAILURE() << "the capture did not end";
      return std::nullopt;
    }
    return ends_[capture - 1];
  }
  // The synthetic source's own picture for frame `index`.
  static Bitmap SourcePicture(int index, int width = 320, int height = 240) {
    Bitmap picture{width, height, std::vector<uint8_t>(std::size_t{4} * width * height)};
    SyntheticSource(22050).Video(index, width, height, picture.rgba.data());
    return picture;
  }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-capture-" + std::to_string(getpid()));
  FfmpegCaptureDevice engine_{{.source = CaptureOptions::Source::kSynthetic}};
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<std::optional<Error>> ends_;
};

TEST_F(CaptureEngineTest, RecordsMjpegAndPcmForExactlyTheTimeLimit) {
  EXPECT_EQ(Record("take.avi", 1), std::nullopt);
  EXPECT_FALSE(engine_.IsCapturing());
  const MediaInfo info = Probe(Path("take.avi"));
  EXPECT_EQ(info.container, "avi");
  EXPECT_EQ(info.video_codec, "mjpeg");
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_NEAR(info.fps, 15, 0.01);
  EXPECT_EQ(info.video_frames, 15);
  EXPECT_EQ(info.audio_codec, "pcm_s16le");
  EXPECT_EQ(info.sample_rate, 22050);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.audio_samples, 22050) << "sound lasts exactly as long as the pictures";

  engine_.StopCapture();  // harmless when idle
  EXPECT_EQ(ends_.size(), 1u);
}

TEST_F(CaptureEngineTest, TheOverlayAndTheMirrorAreInTheRecordedPixels) {
  // Left half opaque red, right half the transparent colour (magenta), bottom rows GIF-transparent.
  Bitmap skin{320, 240, std::vector<uint8_t>(320 * 240 * 4)};
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) {
      uint8_t* p = &skin.rgba[(y * 320 + x) * 4];
      p[0] = 255, p[1] = 0, p[2] = x < 160 ? 0 : 255, p[3] = 255;
    }
  int32_t magenta = 0xFF00FF;
  engine_.OverlayBitmap(std::make_shared<const Bitmap>(skin), 0, 0, magenta);
  ASSERT_EQ(Record("skin.avi", 1), std::nullopt);
  const Bitmap recorded = DecodePicture(Path("skin.avi"), 3);
  const Bitmap red{1, 1, {255, 0, 0, 255}};
  EXPECT_LT(PixelDistance(recorded, 40, 20, red, 0, 0), 12) << "under an opaque skin pixel";
  const Bitmap source = SourcePicture(3);
  EXPECT_LT(PixelDistance(recorded, 300, 20, source, 300, 20), 12) << "under the key colour";
  EXPECT_LT(PixelDistance(recorded, 40, 230, source, 40, 230), 12) << "under a clear GIF pixel";
  EXPECT_GT(PixelDistance(source, 40, 20, red, 0, 0), 60) << "the test must tell them apart";

  engine_.OverlayBitmap(nullptr, 0, 0, 0);
  engine_.SetMirrorMode(kMirrorOn);
  ASSERT_EQ(Record("mirror.avi", 1), std::nullopt);
  const Bitmap mirrored = DecodePicture(Path("mirror.avi"), 0);
  EXPECT_LT(PixelDistance(mirrored, 10, 20, SourcePicture(0), 309, 20), 12);
  EXPECT_GT(PixelDistance(mirrored, 10, 20, SourcePicture(0), 10, 20), 60);
}

// Chosen devices that give 1280 x 720 are recorded at that size, the skin laid at the control's
// 320 x 240 scaled over the whole picture with no fringe of its transparent colour; the snapshot
// and the window keep the control's sizes; the level of the sound is told ten times a second.
TEST_F(CaptureEngineTest, RecordsAtTheChosenSizeWithTheSkinScaledAndTellsTheSoundLevel) {
  // What the engine's thread tells, kept alive by the listeners: the engine outlives this body.
  struct Told {
    std::mutex mutex;
    std::vector<SoundLevel> levels;
    BitmapHandle window;
  };
  const auto told = std::make_shared<Told>();
  engine_.SetLevelListener([told](const SoundLevel& level) {
    std::lock_guard lock(told->mutex);
    told->levels.push_back(level);
  });
  engine_.SetFrameListener([told](const BitmapHandle& frame) {
    std::lock_guard lock(told->mutex);
    told->window = frame;
  });
  engine_.SetDisplaySize(160, 120);
  // Red on the left half of the top rows, magenta (the key) elsewhere.
  Bitmap skin{320, 240, std::vector<uint8_t>(320 * 240 * 4)};
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      uint8_t* p = &skin.rgba[(y * 320 + x) * 4];
      const bool red = y < 60 && x < 160;
      p[0] = 255, p[1] = 0, p[2] = red ? 0 : 255, p[3] = 255;
    }
  engine_.OverlayBitmap(std::make_shared<const Bitmap>(skin), 0, 0, 0xFF00FF);
  engine_.SelectDevices(
      {.source = CaptureOptions::Source::kSynthetic, .record_width = 1280, .record_height = 720});
  ASSERT_EQ(Record("hd.avi", 2), std::nullopt);

  // A wide size for the 4:3 capture size: its middle, 960 x 720, with the skin scaled evenly.
  const MediaInfo info = Probe(Path("hd.avi"));
  EXPECT_EQ(info.width, 960);
  EXPECT_EQ(info.height, 720);
  const Bitmap recorded = DecodePicture(Path("hd.avi"), 3);
  const Bitmap red{1, 1, {255, 0, 0, 255}};
  EXPECT_LT(PixelDistance(recorded, 450, 170, red, 0, 0), 12) << "the skin reaches 480 x 180";
  const Bitmap source = SourcePicture(3, 960, 720);
  for (const auto& [x, y] : {std::pair(500, 100), std::pair(300, 200), std::pair(481, 100)})
    EXPECT_LT(PixelDistance(recorded, x, y, source, x, y), 12) << "the camera's at " << x;
  EXPECT_GT(PixelDistance(source, 450, 170, red, 0, 0), 60) << "the test must tell them apart";
  const BitmapHandle snapshot = engine_.GrabFrame();
  EXPECT_EQ(std::pair(snapshot->width, snapshot->height), std::pair(320, 240));
  {
    std::lock_guard lock(told->mutex);
    const BitmapHandle& window = told->window;
    const std::vector<SoundLevel>& levels = told->levels;
    ASSERT_TRUE(window);
    EXPECT_EQ(std::pair(window->width, window->height), std::pair(160, 120));
    // 2 s of recording and the preview before it: about 10 levels a second.
    EXPECT_GE(levels.size(), 18u);
    ASSERT_FALSE(levels.empty());
    // The synthetic tone's amplitude is 8000 of 32768: -12.2 dBFS at its peak, 3 dB less mean.
    EXPECT_NEAR(levels.back().peak_dbfs, -12.2, 0.3);
    EXPECT_NEAR(levels.back().mean_dbfs, -15.3, 0.3);
  }
}

// An animated skin's overlays are made ready once and kept while its pictures are: once another
// skin has loaded, the former skin's pictures are freed.
TEST_F(CaptureEngineTest, TheOverlaysOfAFormerSkinAreForgotten) {
  const auto skin = [](uint8_t shade) {
    std::vector<BitmapHandle> frames;
    for (int i = 0; i < 3; ++i)
      frames.push_back(std::make_shared<const Bitmap>(
          Bitmap{320, 240, std::vector<uint8_t>(320 * 240 * 4, shade)}));
    return frames;
  };
  std::vector<BitmapHandle> first = skin(10);
  for (int round = 0; round < 2; ++round)
    for (const BitmapHandle& frame : first) engine_.OverlayBitmap(frame, 0, 0, 0);
  const std::vector<std::weak_ptr<const Bitmap>> former(first.begin(), first.end());
  first.clear();
  const std::vector<BitmapHandle> second = skin(20);
  for (const BitmapHandle& frame : second) engine_.OverlayBitmap(frame, 0, 0, 0);
  ASSERT_EQ(Record("second.avi", 1), std::nullopt);  // frames go by with the second skin
  for (const auto& picture : former) EXPECT_TRUE(picture.expired()) << "a former skin's picture";
  const Bitmap shown = DecodePicture(Path("second.avi"), 3);
  EXPECT_LT(PixelDistance(shown, 40, 20, *second.back(), 40, 20), 12) << "the last frame laid";
}

// The recording and the snapshot are the visitor's alone, whatever the host's umask.
TEST_F(CaptureEngineTest, StopCaptureClosesTheFileAndTheSnapshotIsAJpeg) {
  const testing::ScopedUmask usual(022);
  engine_.SetTimeLimitEnabled(false);
  engine_.SetCaptureFileName(Path("stopped.avi"));
  engine_.StartCapture();
  EXPECT_THROW(engine_.StartCapture(), Error) << "one capture at a time";
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  engine_.StopCapture();
  EXPECT_EQ(WaitForEnd(1, std::chrono::seconds(1)), std::nullopt);
  const MediaInfo info = Probe(Path("stopped.avi"));
  EXPECT_GT(info.video_frames, 2);
  EXPECT_LT(info.video_frames, 15);

  const BitmapHandle frame = engine_.GrabFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 320);
  engine_.SavePictureAsJpeg(frame, Path("snap.jpg"), 90);
  const MediaInfo jpeg = Probe(Path("snap.jpg"));
  EXPECT_EQ(jpeg.video_codec, "mjpeg");
  EXPECT_EQ(jpeg.width, 320);
  EXPECT_THROW(engine_.SavePictureAsJpeg(frame, Path("missing/snap.jpg"), 90), Error);
  constexpr auto kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(testing::PermissionsOf(Path("stopped.avi")), kOwnerOnly);
  EXPECT_EQ(testing::PermissionsOf(Path("snap.jpg")), kOwnerOnly);
}

// A recording that fills the disk ends with a plain explanation and a whole file: its last
// frame complete and its index written, as the RIFF header's size and the index tell.
TEST_F(CaptureEngineTest, AFullDiskEndsTheCaptureWithAWholePlayableFile) {
  // A file size limit stands in for a full disk: writes past it fail with EFBIG.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit original = limit;
  limit.rlim_cur = 300 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const auto started = std::chrono::steady_clock::now();
  const std::optional<Error> failure = Record("full.avi", 30);
  setrlimit(RLIMIT_FSIZE, &original);
  ASSERT_TRUE(failure) << "the end must carry the write failure";
  EXPECT_EQ(failure->number(), err::kDiskFull) << failure->description();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20))
      << "the failure ends the capture long before its limit";
  EXPECT_FALSE(engine_.IsCapturing());
  ExpectWholeRecording(Path("full.avi"));
}

// The same on a disk that really fills: a small tmpfs.
TEST_F(CaptureEngineTest, ARecordingThatFillsASmallDiskEndsWholeWithTheDiskFull) {
  const SmallDisk disk(Path("small-disk"), "size=400k");
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs may be mounted here";
  const std::optional<Error> failure = Record("small-disk/full.avi", 30);
  ASSERT_TRUE(failure) << "the end must carry the failure";
  EXPECT_EQ(failure->number(), err::kDiskFull) << failure->description();
  ExpectWholeRecording(Path("small-disk/full.avi"));
}

TEST_F(CaptureEngineTest, DestroyingAnEngineWhileItRecordsClosesTheFile) {
  {
    FfmpegCaptureDevice engine({.source = CaptureOptions::Source::kSynthetic});
    engine.SetFrameRate(15);
    engine.SetConnected(true);
    engine.SetCaptureFileName(Path("dropped.avi"));
    engine.StartCapture();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_GT(Probe(Path("dropped.avi")).video_frames, 0);
}

// A camera that, like a USB camera or an hw: microphone, allows one open at a time: each picture
// is a flat grey of its device's number.
class OneOpenAtATime : public FrameSource {
 public:
  struct Devices {
    std::mutex mutex;
    int open = 0;
    std::vector<std::string> opened;
  };
  OneOpenAtATime(std::shared_ptr<Devices> devices, const std::string& name)
      : devices_(std::move(devices)), shade_(static_cast<uint8_t>(name.back() - '0') * 40) {
    std::lock_guard lock(devices_->mutex);
    if (devices_->open > 0)
      throw Error(err::kComponentFailed, "Device or resource busy: " + name, "test");
    ++devices_->open;
    devices_->opened.push_back(name);
  }
  ~OneOpenAtATime() override {
    std::lock_guard lock(devices_->mutex);
    --devices_->open;
  }
  void Video(int64_t, int width, int height, uint8_t* rgba) override {
    std::fill_n(rgba, static_cast<std::size_t>(width) * height * 4, shade_);
  }
  void Audio(int16_t* samples, int count) override { std::fill_n(samples, count, int16_t{0}); }

 private:
  std::shared_ptr<Devices> devices_;
  uint8_t shade_;
};

// Changing the camera closes the former one before the new one opens, and from then on every
// picture is the new camera's; a camera that cannot open gives the former one back.
TEST_F(CaptureEngineTest, ChangingTheCameraReleasesTheFormerOneFirst) {
  const auto devices = std::make_shared<OneOpenAtATime::Devices>();
  CaptureOptions options{.source = CaptureOptions::Source::kCamera};
  options.camera.name = "/dev/video0";
  options.open_source = [devices](const CaptureOptions& chosen, int32_t) {
    if (chosen.camera.name == "/dev/video9")
      throw Error(err::kComponentFailed, "No such device", "test");
    return std::make_shared<OneOpenAtATime>(devices, chosen.camera.name);
  };
  FfmpegCaptureDevice engine(options);
  engine.SetFrameRate(30);
  engine.SetPreview(true);
  engine.SetConnected(true);
  EXPECT_EQ(engine.GrabFrame()->rgba[0], 0);
  for (int round = 0; round < 20; ++round) {  // mid-frame and between frames alike
    options.camera.name = round % 2 ? "/dev/video0" : "/dev/video2";
    ASSERT_NO_THROW(engine.SelectDevices(options)) << "round " << round;
    EXPECT_EQ(engine.GrabFrame()->rgba[0], round % 2 ? 0 : 80) << "the new camera's picture";
  }
  options.camera.name = "/dev/video9";
  EXPECT_THROW(engine.SelectDevices(options), Error);
  EXPECT_EQ(engine.GrabFrame()->rgba[0], 0) << "the former camera again";
  engine.SetConnected(false);
  std::lock_guard lock(devices->mutex);
  EXPECT_EQ(devices->open, 0);
  EXPECT_EQ(devices->opened.size(), 22u);
}

TEST_F(CaptureEngineTest, TheWindowStreamsAtItsDisplaySizeAndAThrowingListenerEndsTheCapture) {
  std::mutex seen_mutex;
  std::vector<std::pair<int, int>> sizes;
  std::atomic<bool> throw_now{false};
  engine_.SetFrameListener([&](const BitmapHandle& frame) {
    {
      std::lock_guard lock(seen_mutex);
      sizes.emplace_back(frame->width, frame->height);
    }
    if (throw_now) throw std::runtime_error("a window that cannot take the frame");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    std::lock_guard lock(seen_mutex);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back(), (std::pair{320, 240})) << "the capture's size until the window has one";
  }
  engine_.SetDisplaySize(640, 480);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    std::lock_guard lock(seen_mutex);
    EXPECT_EQ(sizes.back(), (std::pair{640, 480})) << "the window's size, not the capture's";
  }

  engine_.SetTimeLimit(30);
  engine_.SetCaptureFileName(Path("listener.avi"));
  engine_.StartCapture();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  throw_now = true;
  const std::optional<Error> failure = WaitForEnd(1, std::chrono::seconds(5));
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->description().find("cannot take the frame"), std::string::npos);
  EXPECT_FALSE(engine_.IsCapturing());
  EXPECT_GT(Probe(Path("listener.avi")).video_frames, 0) << "the file is closed properly";
}

TEST_F(CaptureEngineTest, ASnapshotThatCannotBeWrittenLeavesTheFormerOneWhole) {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the preview's first picture
  const BitmapHandle frame = engine_.GrabFrame();
  ASSERT_TRUE(frame);
  engine_.SavePictureAsJpeg(frame, Path("snap.jpg"), 90);
  const auto size = fs::file_size(Path("snap.jpg"));
  ASSERT_GT(size, 1000u);

  std::signal(SIGXFSZ, SIG_IGN);  // a file size limit stands in for a full disk
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit original = limit;
  limit.rlim_cur = 512;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  EXPECT_THROW(engine_.SavePictureAsJpeg(frame, Path("snap.jpg"), 90), Error);
  setrlimit(RLIMIT_FSIZE, &original);
  EXPECT_EQ(fs::file_size(Path("snap.jpg")), size) << "the former snapshot is untouched";
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
      << "no partial file is left behind";
}

TEST(CaptureEngine, AMissingCameraIsAClearFailure) {
  FfmpegCaptureDevice engine({.source = CaptureOptions::Source::kCamera,
                              .camera = {"video4linux2", "/dev/video-nowhere", {}, ""}});
  try {
    engine.SetConnected(true);
    FAIL() << "connected to a camera that does not exist";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("/dev/video-nowhere"), std::string::npos) << e.description();
  }
  EXPECT_THROW(engine.StartCapture(), Error) << "not connected";
  EXPECT_THROW(engine.SetFrameRate(1000000), Error) << "an engine that would spin";
  EXPECT_THROW(engine.GrabFrame(), Error);
}

TEST_F(CaptureEngineTest, ThePlayerShowsTheRecordingAndTellsItsEnd) {
  ASSERT_EQ(Record("play.avi", 1), std::nullopt);
  FfmpegPlayer player;
  std::promise<int32_t> ended;
  player.OnPlayerChangeState([&](int32_t state) { ended.set_value(state); });
  std::atomic<int> shown{0};
  player.SetFrameListener([&](const BitmapHandle& frame) {
    if (frame->width == 160) ++shown;
  });
  player.SetDisplaySize(160, 120);
  EXPECT_THROW(player.Play(), Error) << "no file open";
  EXPECT_THROW(player.OpenFile(Path("none.avi")), Error);
  player.OpenFile(Path("play.avi"));
  player.Play();
  auto state = ended.get_future();
  ASSERT_EQ(state.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(state.get(), 0);
  EXPECT_EQ(shown, 15);

  std::promise<int32_t> stopped;
  player.OnPlayerChangeState([&](int32_t s) { stopped.set_value(s); });
  player.Play();
  player.StopPlayback();
  EXPECT_EQ(stopped.get_future().get(), 0);

  std::promise<int32_t> failed;
  player.OnPlayerChangeState([&](int32_t s) { failed.set_value(s); });
  player.SetFrameListener(
      [](const BitmapHandle&) { throw std::runtime_error("a window that throws"); });
  player.Play();
  auto after_failure = failed.get_future();
  ASSERT_EQ(after_failure.wait_for(std::chrono::seconds(5)), std::future_status::ready)
      << "a throwing window ends the playback, not the process";
  EXPECT_EQ(after_failure.get(), 0);
  player.CloseFile();
  EXPECT_THROW(player.Play(), Error);
}

TEST_F(CaptureEngineTest, ThePlayerPlaysTheRecordingsSoundAndGoesOnSilentlyWithoutADevice) {
  ASSERT_EQ(Record("sound.avi", 1), std::nullopt);
  const std::string heard = Path("heard.raw");
  // ALSA's file device writes what it is given, as raw samples, into the file.
  FfmpegPlayer player(
      [&] { return std::make_unique<AlsaAudioOutput>("file:FILE=" + heard + ",FORMAT=raw"); });
  const auto play = [&] {
    std::promise<int32_t> ended;
    player.OnPlayerChangeState([&](int32_t s) { ended.set_value(s); });
    player.Play();
    return ended.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  };
  std::atomic<int> shown{0};
  player.SetFrameListener([&](const BitmapHandle&) { ++shown; });
  player.OpenFile(Path("sound.avi"));
  ASSERT_TRUE(play());
  const std::vector<int16_t> recorded = DecodeTracks(Path("sound.avi")).sound;
  const std::vector<int16_t> played = ReadRawSamples(heard);
  ASSERT_FALSE(recorded.empty());
  EXPECT_EQ(played, recorded) << "every sample of the recording, in order";
  EXPECT_EQ(shown, 15);

  FfmpegPlayer silent([] { return std::make_unique<AlsaAudioOutput>("no-such-device"); });
  std::vector<std::string> told;
  silent.OnSoundUnavailable([&](const std::string& why) { told.push_back(why); });
  std::atomic<int> pictures{0};
  silent.SetFrameListener([&](const BitmapHandle&) { ++pictures; });
  silent.OpenFile(Path("sound.avi"));
  for (int round = 0; round < 2; ++round) {
    std::promise<int32_t> ended;
    silent.OnPlayerChangeState([&](int32_t s) { ended.set_value(s); });
    silent.Play();
    ASSERT_EQ(ended.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  }
  EXPECT_EQ(pictures, 30) << "the pictures play all the same";
  ASSERT_EQ(told.size(), 1u) << "said once";
  EXPECT_NE(told[0].find("no-such-device"), std::string::npos) << told[0];
}

TEST_F(CaptureEngineTest, ThePicturesFollowTheSoundClock) {
  ASSERT_EQ(Record("clock.avi", 1), std::nullopt);
  auto sound = std::make_shared<FakeAudioOutput::Log>();
  sound->speed = 0.5;          // a sound device that plays at half speed,
  sound->buffer_seconds = 10;  // and never makes the player wait for room
  FfmpegPlayer player(FakeAudioOutput::Factory(sound));
  std::vector<std::chrono::steady_clock::time_point> shown;
  player.SetFrameListener(
      [&](const BitmapHandle&) { shown.push_back(std::chrono::steady_clock::now()); });
  std::promise<int32_t> ended;
  player.OnPlayerChangeState([&](int32_t s) { ended.set_value(s); });
  player.OpenFile(Path("clock.avi"));
  player.Play();
  ASSERT_EQ(ended.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  ASSERT_EQ(shown.size(), 15u);
  // At the file's own pace the 15 pictures span 0.93 s; at the sound's, twice that.
  EXPECT_GT(shown.back() - shown.front(), std::chrono::milliseconds(1400))
      << "the pictures kept the file's pace instead of the sound's";
  EXPECT_EQ(sound->Heard().size(), DecodeTracks(Path("clock.avi")).sound.size());
}

// A part of the take plays alone: its pictures from the one at its start on, and exactly its
// sound; opening the file again plays it whole.
TEST_F(CaptureEngineTest, ThePlayerPlaysAPartOfTheRecordingWithItsOwnSound) {
  ASSERT_EQ(Record("part.avi", 2), std::nullopt);
  std::vector<int> boxes;  // where each picture shown has the moving box
  auto sound = std::make_shared<FakeAudioOutput::Log>();
  sound->buffer_seconds = 10;
  FfmpegPlayer player(FakeAudioOutput::Factory(sound));
  player.SetFrameListener([&](const BitmapHandle& frame) { boxes.push_back(BoxLeft(*frame)); });
  const auto play = [&] {
    std::promise<int32_t> ended;
    player.OnPlayerChangeState([&](int32_t s) { ended.set_value(s); });
    player.Play();
    return ended.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  };
  player.OpenFile(Path("part.avi"));
  player.SetPlayRange(0.4, 1.4);
  ASSERT_TRUE(play());
  ASSERT_EQ(boxes.size(), 15u) << "the pictures of 0.4 s to 1.4 s: 6 to 20";
  EXPECT_EQ(boxes.front(), BoxLeft(DecodePicture(Path("part.avi"), 6)));
  EXPECT_EQ(boxes.back(), BoxLeft(DecodePicture(Path("part.avi"), 20)));
  const std::vector<int16_t> recorded = DecodeTracks(Path("part.avi")).sound;
  ASSERT_GE(recorded.size(), 30870u);
  EXPECT_EQ(sound->Heard(), std::vector<int16_t>(recorded.begin() + 8820, recorded.begin() + 30870))
      << "the samples of 0.4 s to 1.4 s at 22050 a second";

  boxes.clear();
  player.OpenFile(Path("part.avi"));
  ASSERT_TRUE(play());
  EXPECT_EQ(boxes.size(), 30u) << "a file opened again plays whole";
}

}  // namespace
}  // namespace moviletta::testing
