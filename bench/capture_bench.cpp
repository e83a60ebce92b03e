// SPDX-License-Identifier: GPL-3.0-or-later
// The capture engine's cost per frame and its real-time behaviour, on the synthetic source with an
// animated skin of 10 frames: compositing alone, the whole per-frame path (composite, colour
// conversion, MJPEG encode, AVI write) as fast as it goes beside the ffmpeg command line encoding
// the same frames with one thread, and a real-time recording with frames written against frames
// expected and the process's CPU share. Usage: capture_bench [seconds of recording, 60]
#include <sys/resource.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "bench/bench_util.h"
#include "moviletta/capture/avi_recorder.h"
#include "moviletta/capture/bitmap_scale.h"
#include "moviletta/capture/ffmpeg_capture_device.h"
#include "moviletta/capture/overlay.h"
#include "moviletta/capture/synthetic_source.h"
#include "tests/fixtures/media_probe.h"

using namespace moviletta;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kKey = 0xFF00FF;

// Skin frame i: a frame border, a moving disc and text-like bars, the rest the key colour.
std::vector<BitmapHandle> Skin(int width, int height) {
  std::vector<BitmapHandle> frames;
  for (int i = 0; i < 10; ++i) {
    Bitmap b{width, height, std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t* p = &b.rgba[(static_cast<std::size_t>(y) * width + x) * 4];
        const int dx = x - width * (i + 1) / 12, dy = y - height / 3;
        const bool shows = x < 16 || y < 16 || x >= width - 16 || y >= height - 16 ||
                           dx * dx + dy * dy < (height / 8) * (height / 8) ||
                           (y > height * 3 / 4 && (x / 6) % 3 == 0);
        p[0] = shows ? uint8_t(40 * i) : 255, p[1] = shows ? 200 : 0, p[2] = shows ? 80 : 255;
        p[3] = 255;
      }
    frames.push_back(std::make_shared<const Bitmap>(std::move(b)));
  }
  return frames;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Seconds the ffmpeg command line takes to encode `frames` (raw RGBA pictures of `width` x
// `height`, handed over a pipe) to MJPEG in an AVI with one thread, at the recorder's quality.
double CommandLineSeconds(const std::vector<std::vector<uint8_t>>& frames, int count, int width,
                          int height, int fps, const fs::path& out) {
  const std::string command = "ffmpeg -v error -y -threads 1 -f rawvideo -pix_fmt rgba -s " +
                              std::to_string(width) + "x" + std::to_string(height) + " -r " +
                              std::to_string(fps) + " -i pipe:0 -threads 1 -c:v mjpeg -pix_fmt " +
                              "yuvj420p -q:v 4 -an '" + out.string() + "'";
  return bench::Seconds([&] {
    FILE* pipe = ::popen(command.c_str(), "w");
    if (!pipe) return;
    for (int n = 0; n < count; ++n)
      std::fwrite(frames[n % 10].data(), 1, frames[n % 10].size(), pipe);
    if (::pclose(pipe) != 0) std::printf("  (the ffmpeg command failed)\n");
  });
}

// The skin is made at the control's capture size (`skin_width` x `skin_height`) and laid over
// pictures of `width` x `height`, as the engine does with a camera of that size.
void Measure(int width, int height, int fps, int seconds, const fs::path& folder,
             int skin_width = 320, int skin_height = 240) {
  std::printf("== %d x %d at %d fps, animated skin of 10 frames made at %d x %d\n", width, height,
              fps, skin_width, skin_height);
  const std::vector<BitmapHandle> skin = Skin(skin_width, skin_height);
  std::vector<PreparedOverlay> overlays;
  for (const auto& frame : skin)
    overlays.emplace_back(*ScaleBitmap(frame, width, height, Scaling::kNearest), 0, 0, kKey, width,
                          height);
  SyntheticSource source(22050);
  std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);

  constexpr int kRuns = 1000;
  source.Video(0, width, height, pixels.data());
  const double composite = bench::Seconds([&] {
    for (int i = 0; i < kRuns; ++i) overlays[i % 10].Composite(pixels.data(), width, height);
  });
  std::printf("  compositing alone: %.3f ms per frame\n", composite * 1000 / kRuns);

  constexpr int kFrames = 300;
  std::vector<int16_t> sound(22050 / fps);
  double path = 0;
  {
    AviRecorder recorder((folder / "offline.avi").string(), width, height, fps, 22050);
    path = bench::Seconds([&] {
      for (int n = 0; n < kFrames; ++n) {
        source.Video(n, width, height, pixels.data());
        overlays[n % 10].Composite(pixels.data(), width, height);
        source.Audio(sound.data(), static_cast<int>(sound.size()));
        recorder.Write(pixels.data(), sound.data(), static_cast<int>(sound.size()));
      }
      recorder.Finish();
    });
  }
  std::vector<std::vector<uint8_t>> composited(10, pixels);
  for (int n = 0; n < 10; ++n) {
    source.Video(n, width, height, composited[n].data());
    overlays[n].Composite(composited[n].data(), width, height);
  }
  const double command =
      CommandLineSeconds(composited, kFrames, width, height, fps, folder / "cli.avi");
  std::printf(
      "  whole per-frame path (composite, colour conversion, MJPEG, write): %.3f ms per frame\n"
      "  ffmpeg command line, one thread, the same frames to MJPEG in AVI: %.3f ms per frame\n"
      "  ratio: %.2f (goal <= 1.00)\n",
      path * 1000 / kFrames, command * 1000 / kFrames, path / command);

  FfmpegCaptureDevice engine({.source = CaptureOptions::Source::kSynthetic});
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  engine.OnCaptureEnd([&](std::optional<Error>) {
    std::lock_guard lock(mutex);
    done = true;
    ended.notify_all();
  });
  engine.SetCaptureSize(skin_width, skin_height);
  engine.SelectDevices({.source = CaptureOptions::Source::kSynthetic,
                        .record_width = width,
                        .record_height = height});
  engine.SetFrameRate(fps);
  engine.SetPreview(true);
  engine.SetTimeLimit(seconds);
  engine.SetTimeLimitEnabled(true);
  engine.SetConnected(true);
  engine.SetCaptureFileName((folder / "realtime.avi").string());
  const double cpu_before = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  engine.StartCapture();
  int32_t key = kKey;
  for (int n = 0;; ++n) {  // the control's skin sequence: one overlay per frame period
    engine.OverlayBitmap(skin[n % 10], 0, 0, key);
    std::unique_lock lock(mutex);
    if (ended.wait_for(lock, std::chrono::duration<double>(1.0 / fps), [&] { return done; })) break;
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = CpuSeconds() - cpu_before;
  const testing::MediaInfo recorded = testing::Probe((folder / "realtime.avi").string());
  const int written = recorded.video_frames;
  std::printf(
      "  real time, %d s: %d frames of %d x %d written, %.0f expected for %.2f s of wall time "
      "(%d dropped; goal 0)\n",
      seconds, written, recorded.width, recorded.height, wall * fps, wall,
      std::max(0, int(wall * fps + 0.5) - written));
  std::printf("  CPU share of one core while recording: %.1f %% (goal < 35)\n", 100 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const fs::path folder = fs::temp_directory_path() / "moviletta-bench-capture";
  fs::remove_all(folder);
  fs::create_directories(folder);
  Measure(1280, 720, 30, seconds, folder);
  Measure(320, 240, 15, seconds, folder);
  fs::remove_all(folder);
}
