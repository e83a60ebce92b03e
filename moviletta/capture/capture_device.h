// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "moviletta/common/bitmap.h"
#include "moviletta/common/error.h"

namespace moviletta {

// The capture component (VideoCapX1): camera and microphone with a live preview, recording into
// a file, with one overlay picture composited over preview and recording.
//
// Threads: the control calls every member on the host thread; a failing call throws Error. The
// component may work on threads of its own; it tells the end of a capture by calling the
// `capture_end` callback, from any thread, once per ended capture, with the failure that ended
// it if one did.
class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;

  // Called from any thread whenever a capture has ended (time limit, StopCapture, failure).
  virtual void OnCaptureEnd(std::function<void(std::optional<Error>)> capture_end) = 0;

  virtual void SetSourceIndex(int16_t index) = 0;
  virtual void SetCaptureSize(int32_t width, int32_t height) = 0;
  // 0 leaves recording without a rate. Throws Error 5 outside 0 to kMaxFrameRate.
  virtual void SetFrameRate(int32_t fps) = 0;
  virtual void SetPreview(bool on) = 0;
  // Seconds after which a capture ends by itself, when enabled.
  virtual void SetTimeLimit(int32_t seconds) = 0;
  virtual void SetTimeLimitEnabled(bool on) = 0;
  // True takes hold of the device, false releases it.
  virtual void SetConnected(bool on) = 0;
  // kMirrorOn (-1) or kMirrorOff (-4).
  virtual void SetMirrorMode(int16_t mode) = 0;

  // The current picture, overlay included.
  virtual BitmapHandle GrabFrame() = 0;
  // Writes `picture` as a JPEG file of `quality` (1..100); returns 0 on success.
  virtual int32_t SavePictureAsJpeg(const BitmapHandle& picture, const std::string& path,
                                    int32_t quality) = 0;
  // The file the next capture writes.
  virtual void SetCaptureFileName(const std::string& path) = 0;
  // Starts recording and returns while it goes on.
  virtual void StartCapture() = 0;
  // Stops a recording; harmless when none runs.
  virtual void StopCapture() = 0;
  // Holds the running recording (true): its pictures and sound are not written, and its time
  // limit counts only what was written; false goes on in the same file. A new capture starts
  // unheld; harmless when none runs.
  virtual void PauseCapture(bool paused) = 0;
  virtual bool IsCapturing() = 0;
  // Lays `bitmap` over preview and recording at x, y; pixels of colour `transparent` (0x00BBGGRR)
  // stay see-through. A new call replaces the overlay; a null bitmap removes it.
  virtual void OverlayBitmap(BitmapHandle bitmap, int32_t x, int32_t y, int32_t transparent) = 0;
  virtual void SetDisplaySize(int32_t width, int32_t height) = 0;
};

}  // namespace moviletta
