// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "moviletta/common/error.h"

namespace moviletta {

// Seconds per frame at `fps`. Throws Error 11 for 0 frames per second.
inline double FramePeriod(int32_t fps) {
  if (fps == 0) throw Error(err::kDivisionByZero);
  return 1.0 / fps;
}

// A frame count as the 16-bit number the frame loops use. Throws Error 6 above 32767.
inline int16_t FrameCount(int32_t count) {
  if (count > INT16_MAX || count < INT16_MIN) throw Error(err::kOverflow);
  return static_cast<int16_t>(count);
}

}  // namespace moviletta
