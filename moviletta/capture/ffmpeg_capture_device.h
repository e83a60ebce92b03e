// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "moviletta/capture/capture_device.h"
#include "moviletta/capture/capture_source.h"
#include "moviletta/capture/level_meter.h"
#include "moviletta/capture/overlay.h"
#include "moviletta/capture/overlay_cache.h"
#include "moviletta/common/error.h"
#include "moviletta/common/mutex.h"
#include "moviletta/common/shared_callback.h"

namespace moviletta {

class AviRecorder;
class FrameSource;

// The capture engine on FFmpeg.
//
// Stages of one frame, on the engine's thread, once per frame period while connected with the
// preview on or a capture running: take the source picture at the capture size, mirror it, lay
// the prepared overlay over it, publish it (GrabFrame, the frame listener), and while capturing
// encode it as MJPEG with its share of the sound into the AVI recording.
//
// Threads: the host thread calls the CaptureDevice members; the engine's thread runs the frames
// and ends captures at their time limit or on a failure (a write, the source, a listener). The
// capture-end callback and the frame listener are called from either thread. The destructor ends a
// running capture, closing its file, and joins the engine's thread.
class FfmpegCaptureDevice : public CaptureDevice {
 public:
  explicit FfmpegCaptureDevice(CaptureOptions options = {});
  ~FfmpegCaptureDevice() override;

  // Told of every composited frame, at the display size once SetDisplaySize gave one, on the
  // engine's thread. A listener that throws ends a running capture with that failure.
  void SetFrameListener(std::function<void(const BitmapHandle&)> listener);
  // Told, before the capture-end callback, the failure that ended a capture (its text is for the
  // person who recorded: a device unplugged, the disk full), on the thread that ended it.
  void SetFailureListener(std::function<void(const Error&)> listener);
  // Told the sound's level about ten times a second while frames run, on the engine's thread.
  void SetLevelListener(std::function<void(const SoundLevel&)> listener);
  // Reads from now on the source, camera and microphone of `choice` and records at its record
  // size (its other options are ignored); a connected engine closes the former devices and then
  // opens these. Host thread. Throws Error while a capture runs, or when the new devices cannot
  // be opened (the former choice is then opened again).
  void SelectDevices(const CaptureOptions& choice);

  void OnCaptureEnd(std::function<void(std::optional<Error>)> capture_end) override;
  void SetSourceIndex(int16_t index) override;
  void SetCaptureSize(int32_t width, int32_t height) override;
  void SetFrameRate(int32_t fps) override;
  void SetPreview(bool on) override;
  void SetTimeLimit(int32_t seconds) override;
  void SetTimeLimitEnabled(bool on) override;
  // Opens the source; throws Error when the camera asked for is missing.
  void SetConnected(bool on) override;
  void SetMirrorMode(int16_t mode) override;
  // Waits up to a second for the first picture after connecting.
  BitmapHandle GrabFrame() override;
  int32_t SavePictureAsJpeg(const BitmapHandle& picture, const std::string& path,
                            int32_t quality) override;
  void SetCaptureFileName(const std::string& path) override;
  // Creates the recording file; throws Error when not connected, without a frame rate, or when
  // the file cannot be created.
  void StartCapture() override;
  void StopCapture() override;
  void PauseCapture(bool paused) override;
  bool IsCapturing() override;
  void OverlayBitmap(BitmapHandle bitmap, int32_t x, int32_t y, int32_t transparent) override;
  void SetDisplaySize(int32_t width, int32_t height) override;

 private:
  void Run();
  bool Active() const REQUIRES(mutex_) { return connected_ && source_ && (preview_ || capturing_); }
  // Takes the source out once the engine's thread has finished the frame it was making with it,
  // and forgets the last picture; the caller closes the source by dropping it.
  std::shared_ptr<FrameSource> TakeSource(MutexLock& lock) REQUIRES(mutex_);
  // The source `options` name, opened.
  std::shared_ptr<FrameSource> Open(const CaptureOptions& options, int32_t fps) const;
  // The size of the pictures taken and recorded: the camera's, cut to the capture size's shape.
  std::pair<int32_t, int32_t> FrameSize() const REQUIRES(mutex_);
  // Takes the running capture out and closes its file, adding a failure to close it to
  // `failure`; false when no capture was running. Any thread.
  bool FinishCapture(std::optional<Error>& failure) REQUIRES(record_mutex_);
  // Prepares the overlay laid last for the sizes of now. Host thread.
  void LayAgain();
  // Tells the host that the capture ended, with the failure that ended it if one did. Any thread.
  void TellCaptureEnd(std::optional<Error> failure) EXCLUDES(record_mutex_);

  mutable Mutex mutex_;
  CaptureOptions options_ GUARDED_BY(mutex_);
  std::condition_variable wake_;
  bool quit_ GUARDED_BY(mutex_) = false;
  bool connected_ GUARDED_BY(mutex_) = false;
  bool preview_ GUARDED_BY(mutex_) = false;
  bool mirror_ GUARDED_BY(mutex_) = false;
  int32_t width_ GUARDED_BY(mutex_) = 320;
  int32_t height_ GUARDED_BY(mutex_) = 240;
  int32_t fps_ GUARDED_BY(mutex_) = 15;
  int32_t time_limit_ GUARDED_BY(mutex_) = 0;
  bool time_limit_enabled_ GUARDED_BY(mutex_) = false;
  int32_t display_width_ GUARDED_BY(mutex_) = 0;
  int32_t display_height_ GUARDED_BY(mutex_) = 0;
  std::string capture_file_ GUARDED_BY(mutex_);
  std::shared_ptr<const PreparedOverlay> overlay_ GUARDED_BY(mutex_);
  BitmapHandle latest_ GUARDED_BY(mutex_);
  std::condition_variable first_frame_;
  SharedCallback<void(std::optional<Error>)> capture_end_;
  SharedCallback<void(const BitmapHandle&)> frame_listener_;
  SharedCallback<void(const SoundLevel&)> level_listener_;
  SharedCallback<void(const Error&)> failure_listener_;
  std::shared_ptr<FrameSource> source_ GUARDED_BY(mutex_);
  bool in_frame_ GUARDED_BY(mutex_) = false;  // the engine's thread holds a copy of source_
  std::atomic<bool> capturing_{false};

  // The running capture. The engine's thread writes frames with record_mutex_ held; whoever takes
  // the recorder out of it closes the file.
  Mutex record_mutex_;
  std::unique_ptr<AviRecorder> recorder_ GUARDED_BY(record_mutex_);
  int64_t limit_frames_ GUARDED_BY(record_mutex_) = 0;  // 0: no limit
  bool paused_ GUARDED_BY(record_mutex_) = false;

  // The overlays OverlayBitmap prepared; host thread only.
  OverlayCache prepared_;
  // The overlay laid last, laid again (LayAgain) when the pictures' size changes; host thread only.
  std::tuple<BitmapHandle, int32_t, int32_t, int32_t> laid_;

  std::thread engine_;
};

}  // namespace moviletta
