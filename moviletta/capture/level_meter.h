// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

namespace moviletta {

// The loudness of a stretch of sound, in dB below full scale: its loudest sample and its mean
// (root mean square) level. Silence reads kSilentDbfs.
struct SoundLevel {
  static constexpr double kSilentDbfs = -100.0;
  double peak_dbfs = kSilentDbfs;
  double mean_dbfs = kSilentDbfs;
};

// Measures mono 16-bit sound in windows of `window` samples. One thread at a time.
class LevelMeter {
 public:
  explicit LevelMeter(int window) : window_(window > 0 ? window : 1) {}

  // Adds `count` samples; the level of the last window they complete, if they complete one.
  std::optional<SoundLevel> Add(const int16_t* samples, int count);

 private:
  int window_;
  int taken_ = 0;
  int peak_ = 0;
  double squares_ = 0;
};

}  // namespace moviletta
