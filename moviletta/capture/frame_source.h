// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

#include "moviletta/common/error.h"

namespace moviletta {

// Where the capture engine's pictures and sound come from. Only the engine's thread calls it.
class FrameSource {
 public:
  virtual ~FrameSource() = default;

  // Fills `rgba` (width x height pixels, 4 bytes each) with the picture for frame `index`.
  virtual void Video(int64_t index, int width, int height, uint8_t* rgba) = 0;
  // Fills `samples` with the next `count` mono 16-bit samples at the engine's sample rate.
  virtual void Audio(int16_t* samples, int count) = 0;
  // What stopped the source delivering, once something did.
  virtual std::optional<Error> Failure() const { return std::nullopt; }
};

}  // namespace moviletta
