// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "moviletta/capture/frame_source.h"

namespace moviletta {

// A camera and microphone for machines without them: colour bars with a box that moves one step
// per frame, and a tone that steps each second through 440, 550, 660 and 770 Hz (at one level).
// Frame n is always the same picture and each second its own pitch, so tests can tell moments.
class SyntheticSource : public FrameSource {
 public:
  explicit SyntheticSource(int sample_rate) : sample_rate_(sample_rate) {}

  void Video(int64_t index, int width, int height, uint8_t* rgba) override;
  void Audio(int16_t* samples, int count) override;

 private:
  int sample_rate_;
  int64_t sample_index_ = 0;
  double phase_ = 0;  // of the tone, in turns
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> bars_;
};

}  // namespace moviletta
