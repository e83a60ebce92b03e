#pragma once

#include <cstdint>

namespace moviletta {

// The capture component (VideoCapX1): camera and microphone with a live preview. The control
// calls it on the host thread; a failing call throws Error.
class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;

  virtual void SetSourceIndex(int16_t index) = 0;
  virtual void SetCaptureSize(int32_t width, int32_t height) = 0;
  virtual void SetFrameRate(int32_t fps) = 0;
  virtual void SetPreview(bool on) = 0;
  // Seconds after which a capture ends by itself, when enabled.
  virtual void SetTimeLimit(int32_t seconds) = 0;
  virtual void SetTimeLimitEnabled(bool on) = 0;
  // True takes hold of the device, false releases it.
  virtual void SetConnected(bool on) = 0;
  // kMirrorOn (-1) or kMirrorOff (-4).
  virtual void SetMirrorMode(int16_t mode) = 0;
};

}  // namespace moviletta
