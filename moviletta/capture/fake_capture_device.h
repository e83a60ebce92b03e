// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "moviletta/capture/capture_device.h"

namespace moviletta {

// Records every call as text ("FrameRate=15", "SetCaptureSize(320,240)",
// "OverlayBitmap(0,0,255)") and fails the call named in `fail_on` with Error kComponentFailed.
// The bitmaps laid over the picture are kept in `overlaid` (null for a removal). StartCapture
// writes a small file under the capture file name, as a recording would.
class FakeCaptureDevice : public CaptureDevice {
 public:
  std::vector<std::string> calls;
  std::string fail_on;
  std::vector<BitmapHandle> overlaid;
  bool capturing = false;
  int32_t display_width = 0;  // the window's size
  int32_t display_height = 0;
  BitmapHandle frame = std::make_shared<const Bitmap>(Bitmap{2, 1, std::vector<uint8_t>(8, 7)});

  // Ends the capture as the component would: from a thread of its own, through the callback.
  void RaiseCaptureEnd(std::optional<Error> failure = std::nullopt);

  void OnCaptureEnd(std::function<void(std::optional<Error>)> capture_end) override {
    capture_end_ = capture_end;
  }
  void SetSourceIndex(int16_t index) override { Record("SourceIndex=" + std::to_string(index)); }
  void SetCaptureSize(int32_t width, int32_t height) override {
    Record("SetCaptureSize(" + std::to_string(width) + "," + std::to_string(height) + ")");
  }
  void SetFrameRate(int32_t fps) override { Record("FrameRate=" + std::to_string(fps)); }
  void SetPreview(bool on) override { Record(Flag("Preview", on)); }
  void SetTimeLimit(int32_t seconds) override { Record("TimeLimit=" + std::to_string(seconds)); }
  void SetTimeLimitEnabled(bool on) override { Record(Flag("TimeLimitEnabled", on)); }
  void SetConnected(bool on) override { Record(Flag("Connected", on)); }
  void SetMirrorMode(int16_t mode) override { Record("MirrorMode=" + std::to_string(mode)); }
  BitmapHandle GrabFrame() override;
  int32_t SavePictureAsJpeg(const BitmapHandle& picture, const std::string& path,
                            int32_t quality) override;
  void SetCaptureFileName(const std::string& path) override {
    Record("CaptureFileName=" + path);
    capture_file_ = path;
  }
  void StartCapture() override;
  void StopCapture() override;
  void PauseCapture(bool paused) override;
  bool IsCapturing() override;
  void OverlayBitmap(BitmapHandle bitmap, int32_t x, int32_t y, int32_t transparent) override;
  void SetDisplaySize(int32_t width, int32_t height) override;

 private:
  static std::string Flag(const char* name, bool on) {
    return std::string(name) + "=" + (on ? "True" : "False");
  }
  void Record(std::string call);

  std::function<void(std::optional<Error>)> capture_end_;
  std::string capture_file_;
};

}  // namespace moviletta
