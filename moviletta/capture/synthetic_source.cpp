// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/synthetic_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace moviletta {
namespace {

// The tone's pitch during second `second` of the sound.
double ToneFrequency(int64_t second) {
  return 440 + 110 * static_cast<double>(second % 4);
}

}  // namespace

void SyntheticSource::Video(int64_t index, int width, int height, uint8_t* rgba) {
  if (width != width_ || height != height_) {
    static constexpr uint8_t kBars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235},
                                            {16, 235, 16},   {235, 16, 235}, {235, 16, 16},
                                            {16, 16, 235},   {16, 16, 16}};
    width_ = width, height_ = height;
    bars_.resize(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const uint8_t* bar = kBars[x * 8 / std::max(width, 1)];
        uint8_t* p = &bars_[(static_cast<std::size_t>(y) * width + x) * 4];
        p[0] = bar[0], p[1] = bar[1], p[2] = bar[2], p[3] = 255;
      }
  }
  std::memcpy(rgba, bars_.data(), bars_.size());
  const int side = std::max(height / 8, 1);
  const int left = static_cast<int>(index * 4 % std::max(width - side, 1));
  const int top = (height - side) / 2;
  for (int y = top; y < top + side && y < height; ++y)
    std::memset(rgba + (static_cast<std::size_t>(y) * width + left) * 4, 128,
                static_cast<std::size_t>(std::min(side, width - left)) * 4);
}

void SyntheticSource::Audio(int16_t* samples, int count) {
  for (int i = 0; i < count; ++i, ++sample_index_) {
    samples[i] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * phase_));
    phase_ = std::fmod(phase_ + ToneFrequency(sample_index_ / sample_rate_) / sample_rate_, 1.0);
  }
}

}  // namespace moviletta
