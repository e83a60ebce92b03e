// The capture engine's cost per frame and its real-time behaviour, on the synthetic source with an
// animated skin of 10 frames: compositing alone, the whole per-frame path (composite, MJPEG
// encode, AVI write) as fast as it goes, and a real-time recording with frames written against
// frames expected and the process's CPU share. Usage: capture_bench [seconds of recording, 60]
#include <sys/resource.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "bench/bench_util.h"
#include "moviletta/capture/avi_recorder.h"
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

void Measure(int width, int height, int fps, int seconds, const fs::path& folder) {
  std::printf("== %d x %d at %d fps, animated skin of 10 frames\n", width, height, fps);
  const std::vector<BitmapHandle> skin = Skin(width, height);
  std::vector<PreparedOverlay> overlays;
  for (const auto& frame : skin) overlays.emplace_back(*frame, 0, 0, kKey, width, height);
  SyntheticSource source(22050);
  std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);

  constexpr int kRuns = 1000;
  source.Video(0, width, height, pixels.data());
  const double composite = bench::Seconds([&] {
    for (int i = 0; i < kRuns; ++i) overlays[i % 10].Composite(pixels.data(), width, height);
  });
  std::printf("  compositing alone: %.3f ms per frame (goal < 0.3)\n", composite * 1000 / kRuns);

  constexpr int kFrames = 300;
  std::vector<int16_t> sound(22050 / fps);
  {
    AviRecorder recorder((folder / "offline.avi").string(), width, height, fps, 22050);
    const double path = bench::Seconds([&] {
      for (int n = 0; n < kFrames; ++n) {
        source.Video(n, width, height, pixels.data());
        overlays[n % 10].Composite(pixels.data(), width, height);
        source.Audio(sound.data(), static_cast<int>(sound.size()));
        recorder.Write(pixels.data(), sound.data(), static_cast<int>(sound.size()));
      }
      recorder.Finish();
    });
    std::printf("  whole per-frame path: %.3f ms per frame (goal < %.1f, a tenth of the period)\n",
                path * 1000 / kFrames, 100.0 / fps);
  }

  FfmpegCaptureDevice engine({.source = CaptureOptions::Source::kSynthetic});
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  engine.OnCaptureEnd([&](std::optional<Error>) {
    std::lock_guard lock(mutex);
    done = true;
    ended.notify_all();
  });
  engine.SetCaptureSize(width, height);
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
  const int written = testing::Probe((folder / "realtime.avi").string()).video_frames;
  std::printf(
      "  real time, %d s: %d frames written, %.0f expected for %.2f s of wall time "
      "(%d dropped)\n",
      seconds, written, wall * fps, wall, std::max(0, int(wall * fps + 0.5) - written));
  std::printf("  CPU share of one core while recording: %.1f %%\n", 100 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const fs::path folder = fs::temp_directory_path() / "moviletta-bench-capture";
  fs::remove_all(folder);
  fs::create_directories(folder);
  Measure(640, 480, 30, seconds, folder);
  Measure(320, 240, 15, seconds, folder);
  fs::remove_all(folder);
}
