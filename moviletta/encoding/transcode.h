// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace moviletta {

// H.264 pictures and AAC sound in MP4, its index first so that a player starts before the file
// has arrived, at most 1280 x 720 (the input's proportions kept): the format every browser and
// phone plays. Not one of the editing component's formats: the greeting service writes it.
inline constexpr int32_t kOutputFormatWebMp4 = -264;

// One merge: the pictures and the sound of `input` between `start` and `end` seconds into
// `output`, compressed as `format` describes.
struct TranscodeJob {
  std::string input{};
  double start = 0;
  double end = 0;
  std::string output{};
  int32_t format = 0;  // kOutputFormatMpeg, kOutputFormatWmv or kOutputFormatWebMp4
  int32_t fps = 0;     // output frame rate; 0 keeps the input's
  int32_t width = 0;   // output size (MPEG only); 0 keeps the input's
  int32_t height = 0;
  int32_t sample_rate = 0;  // output sound (MPEG only); 0 keeps the input's
  int32_t audio_bit_rate = 0;
  int32_t threads = 0;  // 1: everything on the calling thread; otherwise a pipeline of threads

  // Whether `other` makes the same file, wherever it is written and however.
  bool SameWork(const TranscodeJob& other) const;
};

// Runs `job`, streaming: memory does not grow with the length of the clip. The pipeline's
// decoding, picture encoding, sound encoding and writing run on threads of their own and write
// the same bytes as one thread. The output is written
// under a hidden temporary name beside `job.output` and renamed to it only at the end, so a
// failed or cancelled job leaves no file under the final name. Calls `progress` (seconds done,
// seconds in all) a few times a second and once at the end. Throws Error on failure and when
// `cancel` becomes true.
void Transcode(const TranscodeJob& job, const std::atomic<bool>& cancel,
               const std::function<void(double, double)>& progress);

// Video bit rate the encoders get for a picture size and frame rate: a quarter of a bit per
// pixel, at least 300 kb/s.
int64_t VideoBitRate(int width, int height, int fps);

}  // namespace moviletta
