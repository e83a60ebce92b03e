#pragma once

#include <cstdint>

namespace moviletta {

// The editing component (VideoEdit1) that merges and compresses a recording. The control calls
// it on the host thread; a failing call throws Error.
class VideoEditor {
 public:
  virtual ~VideoEditor() = default;

  virtual void SetOutputFrameRate(int32_t fps) = 0;
};

}  // namespace moviletta
