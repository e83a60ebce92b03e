#pragma once

#include <vector>

#include "moviletta/capture/frame_source.h"

namespace moviletta {

// A camera and microphone for machines without them: colour bars with a box that moves one step
// per frame, and a 440 Hz tone. Frame n is always the same picture, so tests can check it.
class SyntheticSource : public FrameSource {
 public:
  explicit SyntheticSource(int sample_rate) : sample_rate_(sample_rate) {}

  void Video(int64_t index, int width, int height, uint8_t* rgba) override;
  void Audio(int16_t* samples, int count) override;

 private:
  int sample_rate_;
  int64_t sample_index_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> bars_;
};

}  // namespace moviletta
