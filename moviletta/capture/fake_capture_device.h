#pragma once

#include <string>
#include <vector>

#include "moviletta/capture/capture_device.h"

namespace moviletta {

// Records every call as text ("FrameRate=15", "SetCaptureSize(320,240)") and fails the call
// named in `fail_on` with Error kComponentFailed.
class FakeCaptureDevice : public CaptureDevice {
 public:
  std::vector<std::string> calls;
  std::string fail_on;

  void SetSourceIndex(int16_t index) override { Record("SourceIndex=" + std::to_string(index)); }
  void SetCaptureSize(int32_t width, int32_t height) override {
    Record("SetCaptureSize(" + std::to_string(width) + "," + std::to_string(height) + ")");
  }
  void SetFrameRate(int32_t fps) override { Record("FrameRate=" + std::to_string(fps)); }
  void SetPreview(bool on) override { Record(std::string("Preview=") + (on ? "True" : "False")); }
  void SetTimeLimit(int32_t seconds) override { Record("TimeLimit=" + std::to_string(seconds)); }
  void SetTimeLimitEnabled(bool on) override {
    Record(std::string("TimeLimitEnabled=") + (on ? "True" : "False"));
  }
  void SetConnected(bool on) override {
    Record(std::string("Connected=") + (on ? "True" : "False"));
  }
  void SetMirrorMode(int16_t mode) override { Record("MirrorMode=" + std::to_string(mode)); }

 private:
  void Record(std::string call);
};

}  // namespace moviletta
