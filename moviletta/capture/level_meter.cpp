// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/level_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace moviletta {
namespace {

double Dbfs(double amplitude) {
  if (amplitude <= 0) return SoundLevel::kSilentDbfs;
  return std::max(SoundLevel::kSilentDbfs, 20 * std::log10(amplitude / 32768.0));
}

}  // namespace

std::optional<SoundLevel> LevelMeter::Add(const int16_t* samples, int count) {
  std::optional<SoundLevel> level;
  for (int i = 0; i < count; ++i) {
    const int sample = samples[i];
    peak_ = std::max(peak_, std::abs(sample));
    squares_ += double(sample) * sample;
    if (++taken_ < window_) continue;
    level = SoundLevel{Dbfs(peak_), Dbfs(std::sqrt(squares_ / taken_))};
    taken_ = 0, peak_ = 0, squares_ = 0;
  }
  return level;
}

}  // namespace moviletta
