// SPDX-License-Identifier: GPL-3.0-or-later
// Compression of a recording to .wmv and .mpg by the control's editing component against the
// ffmpeg command line doing the same conversion (same codecs, bit rates, size and frame rate),
// pair by pair in one run, each in a process of its own so that its peak memory can be read.
// The command line runs with -threads 1 and with its default threading; the faster counts.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "moviletta/encoding/transcode.h"
#include "moviletta/encoding/video_editor.h"
#include "tests/fixtures/recordings.h"

extern char** environ;

using namespace moviletta;
namespace fs = std::filesystem;

namespace {

struct Run {
  double seconds;
  long peak_kb;
};

Run Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int status = 0;
  rusage usage{};
  const double seconds = bench::Seconds([&] {
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return;
    wait4(pid, &status, 0, &usage);
  });
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::fprintf(stderr, "failed: %s\n", args[0].c_str());
  return {seconds, usage.ru_maxrss};
}

struct Case {
  const char* name;
  int seconds, width, height, fps;
};

void Compare(const Case& c, const fs::path& folder, const std::string& self) {
  const std::string input = (folder / (std::string(c.name) + ".avi")).string();
  testing::MakeRecording(input, c.seconds, c.width, c.height, c.fps);
  const std::string bit_rate = std::to_string(VideoBitRate(c.width, c.height, c.fps));
  const std::string fps = std::to_string(c.fps);
  for (const char* format : {"wmv", "mpg"}) {
    const bool wmv = std::strcmp(format, "wmv") == 0;
    const std::string ours_out = (folder / ("ours." + std::string(format))).string();
    const std::string theirs_out = (folder / ("theirs." + std::string(format))).string();
    const bool mpeg1 = c.fps == 24 || c.fps == 25 || c.fps == 30 || c.fps == 50 || c.fps == 60;
    std::vector<std::string> ffmpeg{"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", input};
    if (wmv)
      ffmpeg.insert(ffmpeg.end(), {"-c:v", "wmv2", "-b:v", bit_rate, "-g", fps, "-r", fps, "-c:a",
                                   "wmav2", "-b:a", "48k", "-f", "asf"});
    else
      ffmpeg.insert(
          ffmpeg.end(),
          {"-c:v", mpeg1 ? "mpeg1video" : "mpeg2video", "-b:v", bit_rate, "-maxrate",
           std::to_string(2 * VideoBitRate(c.width, c.height, c.fps)), "-bufsize", bit_rate, "-g",
           fps, "-r", fps, "-c:a", "mp2", "-b:a", "64k", "-f", mpeg1 ? "mpeg" : "vob"});
    std::vector<std::string> single = ffmpeg;
    single.insert(single.begin() + 1, {"-threads", "1"});
    ffmpeg.push_back(theirs_out), single.push_back(theirs_out);

    std::vector<double> ours, theirs_single, theirs_default;
    long ours_kb = 0, theirs_kb = 0;
    for (int round = 0; round < 3; ++round) {
      const Run a = Spawn({self, "--transcode", input, ours_out, format, fps});
      const Run b = Spawn(single);
      const Run d = Spawn(ffmpeg);
      ours.push_back(a.seconds), theirs_single.push_back(b.seconds),
          theirs_default.push_back(d.seconds);
      ours_kb = std::max(ours_kb, a.peak_kb);
      theirs_kb = std::max({theirs_kb, b.peak_kb, d.peak_kb});
    }
    const double best = std::min(bench::Median(theirs_single), bench::Median(theirs_default));
    std::printf("%s, %d s %dx%d at %d fps -> %s\n", c.name, c.seconds, c.width, c.height, c.fps,
                format);
    std::printf("  control: %.3f s, peak %ld KB\n", bench::Median(ours), ours_kb);
    std::printf("  ffmpeg:  %.3f s with -threads 1, %.3f s by default, peak %ld KB\n",
                bench::Median(theirs_single), bench::Median(theirs_default), theirs_kb);
    std::printf("  ratio control/ffmpeg: %.2f (goal <= 0.4); memory ratio %.2f\n",
                bench::Median(ours) / best, double(ours_kb) / theirs_kb);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--transcode") {
    if (argc != 6) return 2;  // --transcode INPUT OUTPUT wmv|mpg FPS
    TranscodeJob job;
    job.input = argv[2];
    job.output = argv[3];
    job.format = std::string(argv[4]) == "wmv" ? kOutputFormatWmv : kOutputFormatMpeg;
    job.fps = std::stoi(argv[5]);
    job.end = 1e9;  // the whole recording
    std::atomic<bool> cancel{false};
    try {
      Transcode(job, cancel, [](double, double) {});
    } catch (const Error& e) {
      std::fprintf(stderr, "%s\n", e.description().c_str());
      return 1;
    }
    return 0;
  }
  const fs::path folder = fs::temp_directory_path() / "moviletta-bench-encode";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  Compare({"long", 60, 640, 480, 30}, folder, self);
  Compare({"short", 10, 320, 240, 15}, folder, self);
  fs::remove_all(folder);
}
