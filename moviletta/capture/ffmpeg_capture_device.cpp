// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/ffmpeg_capture_device.h"

#include <chrono>
#include <filesystem>

#include "moviletta/capture/avi_recorder.h"
#include "moviletta/capture/bitmap_scale.h"
#include "moviletta/capture/capture_source.h"
#include "moviletta/common/constants.h"
#include "moviletta/common/proportion.h"
#include "moviletta/ffmpeg/jpeg_writer.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.CaptureEngine";
constexpr int32_t kPreviewFps = 15;  // when no frame rate is set
constexpr int kLevelsPerSecond = 10;

}  // namespace

std::shared_ptr<FrameSource> FfmpegCaptureDevice::Open(const CaptureOptions& options,
                                                       int32_t fps) const {
  return options.open_source ? options.open_source(options, fps) : OpenCaptureSource(options, fps);
}

FfmpegCaptureDevice::FfmpegCaptureDevice(CaptureOptions options)
    : options_(std::move(options)), prepared_(options_.overlay_bytes), engine_([this] { Run(); }) {}

FfmpegCaptureDevice::~FfmpegCaptureDevice() {
  StopCapture();
  {
    MutexLock lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  engine_.join();
}

void FfmpegCaptureDevice::Run() {
  using Clock = std::chrono::steady_clock;
  std::vector<uint8_t> pixels;
  std::vector<int16_t> sound;
  int64_t index = 0;
  Clock::time_point next = Clock::now();
  MutexLock lock(mutex_);
  const int rate = options_.sample_rate;
  LevelMeter meter(rate / kLevelsPerSecond);
  for (;;) {
    while (!quit_ && !Active()) lock.Wait(wake_);
    if (quit_) return;
    std::shared_ptr<FrameSource> source = source_;
    in_frame_ = true;
    const auto [width, height] = FrameSize();
    const int fps = fps_ > 0 ? fps_ : kPreviewFps;
    const bool mirror = mirror_;
    const std::shared_ptr<const PreparedOverlay> overlay = overlay_;
    const auto listener = frame_listener_.Get();
    const auto level_listener = level_listener_.Get();
    const int display_width = display_width_, display_height = display_height_;
    lock.Unlock();

    // Whatever fails in a frame ends a running capture with that failure; the preview goes on.
    BitmapHandle frame;
    std::optional<Error> failure;
    try {
      pixels.resize(static_cast<std::size_t>(width) * height * 4);
      source->Video(index, width, height, pixels.data());
      if (mirror) MirrorRows(pixels.data(), width, height);
      if (overlay) overlay->Composite(pixels.data(), width, height);
      frame = std::make_shared<const Bitmap>(Bitmap{width, height, pixels});
      if (listener) listener(FitBitmap(frame, display_width, display_height));
      failure = source->Failure();
    } catch (...) {
      failure = Error::FromCurrent();
    }

    bool ended = false;
    {
      MutexLock recording(record_mutex_);
      try {
        // Sound follows the frames exactly: frame n carries samples n*rate/fps up to
        // (n+1)*rate/fps.
        const int64_t n = recorder_ ? recorder_->frames() : index;
        const int count = static_cast<int>((n + 1) * rate / fps - n * rate / fps);
        sound.resize(static_cast<std::size_t>(count));
        source->Audio(sound.data(), count);  // drained also while not recording
        if (recorder_ && !failure && !paused_) recorder_->Write(pixels.data(), sound.data(), count);
        if (const auto level = meter.Add(sound.data(), count); level && level_listener)
          level_listener(*level);
      } catch (...) {
        if (!failure) failure = Error::FromCurrent();
      }
      if (recorder_ && (failure || (limit_frames_ > 0 && recorder_->frames() >= limit_frames_)))
        ended = FinishCapture(failure);
    }
    if (ended) TellCaptureEnd(std::move(failure));
    ++index;
    source.reset();  // between frames the source is the host's alone to close

    lock.Lock();
    in_frame_ = false;
    if (frame) latest_ = std::move(frame);
    first_frame_.notify_all();
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
    next += period;
    if (next < Clock::now() - period) next = Clock::now();  // fell behind: no burst to catch up
    while (!quit_ && lock.WaitUntil(wake_, next) == std::cv_status::no_timeout) {
    }
  }
}

bool FfmpegCaptureDevice::FinishCapture(std::optional<Error>& failure) {
  const std::unique_ptr<AviRecorder> recorder = std::move(recorder_);
  if (!recorder) return false;
  // Finished while the recording lock is held: a StopCapture meanwhile returns only once the
  // file is complete.
  try {
    recorder->Finish();
  } catch (...) {
    if (!failure) failure = Error::FromCurrent();
  }
  capturing_ = false;
  return true;
}

void FfmpegCaptureDevice::TellCaptureEnd(std::optional<Error> failure) {
  // Whoever could not take the news, the capture has ended all the same.
  try {
    if (failure) failure_listener_(*failure);
  } catch (...) {
  }
  try {
    capture_end_(std::move(failure));
  } catch (...) {
  }
}

void FfmpegCaptureDevice::SetFrameListener(std::function<void(const BitmapHandle&)> listener) {
  frame_listener_.Set(std::move(listener));
}

void FfmpegCaptureDevice::SetFailureListener(std::function<void(const Error&)> listener) {
  failure_listener_.Set(std::move(listener));
}

void FfmpegCaptureDevice::SetLevelListener(std::function<void(const SoundLevel&)> listener) {
  level_listener_.Set(std::move(listener));
}

std::pair<int32_t, int32_t> FfmpegCaptureDevice::FrameSize() const {
  if (options_.record_width <= 0 || options_.record_height <= 0) return {width_, height_};
  // The camera's size in the capture size's proportions: a picture of another shape is cropped,
  // so that the live picture, the recording, its still and the mailed greeting show the same.
  const PictureCrop kept =
      CentredCrop(options_.record_width, options_.record_height, width_, height_);
  return {kept.width, kept.height};
}

void FfmpegCaptureDevice::SelectDevices(const CaptureOptions& choice) {
  if (capturing_)
    throw Error(err::kComponentFailed, "The devices cannot change while a recording runs.",
                kSource);
  CaptureOptions former, options;
  std::shared_ptr<FrameSource> closing;
  bool connected = false;
  int32_t fps = 0;
  {
    MutexLock lock(mutex_);
    former = options = options_;
    connected = connected_, fps = fps_;
    closing = TakeSource(lock);
  }
  closing.reset();  // a camera or microphone allows one open at a time
  options.source = choice.source;
  options.camera = choice.camera;
  options.microphone = choice.microphone;
  options.record_width = choice.record_width, options.record_height = choice.record_height;
  std::shared_ptr<FrameSource> source;
  std::optional<Error> failure;
  if (connected) {
    try {
      source = Open(options, fps);
    } catch (...) {
      failure = Error::FromCurrent();
      options = std::move(former);
      try {
        source = Open(options, fps);
      } catch (...) {  // the engine stays without pictures until the next choice or connection
      }
    }
  }
  {
    MutexLock lock(mutex_);
    options_ = std::move(options);
    if (connected_) source_ = std::move(source);
  }
  wake_.notify_all();
  LayAgain();
  if (failure) throw *failure;
}

std::shared_ptr<FrameSource> FfmpegCaptureDevice::TakeSource(MutexLock& lock) {
  std::shared_ptr<FrameSource> source = std::move(source_);
  while (in_frame_) lock.Wait(first_frame_);  // the engine pauses without a source
  latest_.reset();
  return source;
}

void FfmpegCaptureDevice::OnCaptureEnd(std::function<void(std::optional<Error>)> capture_end) {
  capture_end_.Set(std::move(capture_end));
}

void FfmpegCaptureDevice::SetSourceIndex(int16_t index) {
  if (index != 0) throw Error(err::kInvalidArgument, "only source 0 exists", kSource);
}

void FfmpegCaptureDevice::SetCaptureSize(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096 || width % 2 || height % 2)
    throw Error(err::kInvalidArgument,
                "capture size " + std::to_string(width) + " x " + std::to_string(height), kSource);
  {
    MutexLock lock(mutex_);
    width_ = width, height_ = height;
  }
  LayAgain();
}

void FfmpegCaptureDevice::SetFrameRate(int32_t fps) {
  if (fps < 0 || fps > kMaxFrameRate)
    throw Error(err::kInvalidArgument, "frame rate " + std::to_string(fps), kSource);
  MutexLock lock(mutex_);
  fps_ = fps;
}

void FfmpegCaptureDevice::SetPreview(bool on) {
  {
    MutexLock lock(mutex_);
    preview_ = on;
  }
  wake_.notify_all();
}

void FfmpegCaptureDevice::SetTimeLimit(int32_t seconds) {
  MutexLock lock(mutex_);
  time_limit_ = seconds;
}

void FfmpegCaptureDevice::SetTimeLimitEnabled(bool on) {
  MutexLock lock(mutex_);
  time_limit_enabled_ = on;
}

void FfmpegCaptureDevice::SetConnected(bool on) {
  if (!on) {
    StopCapture();
    std::shared_ptr<FrameSource> closing;  // closed after the lock is released
    MutexLock lock(mutex_);
    connected_ = false;
    closing = TakeSource(lock);
    return;
  }
  {
    MutexLock lock(mutex_);
    if (connected_) return;
  }
  CaptureOptions options;
  int32_t fps = 0;
  {
    MutexLock lock(mutex_);
    options = options_, fps = fps_;
  }
  std::shared_ptr<FrameSource> source = Open(options, fps);
  {
    MutexLock lock(mutex_);
    source_ = std::move(source);
    connected_ = true;
  }
  wake_.notify_all();
}

void FfmpegCaptureDevice::SetMirrorMode(int16_t mode) {
  MutexLock lock(mutex_);
  mirror_ = mode == kMirrorOn;
}

BitmapHandle FfmpegCaptureDevice::GrabFrame() {
  MutexLock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!latest_ && Active())
    if (lock.WaitUntil(first_frame_, deadline) == std::cv_status::timeout) break;
  if (!latest_)
    throw Error(err::kComponentFailed, "no picture: the camera is not connected or not previewing",
                kSource);
  return ScaleBitmap(latest_, width_, height_);
}

int32_t FfmpegCaptureDevice::SavePictureAsJpeg(const BitmapHandle& picture, const std::string& path,
                                               int32_t quality) {
  if (!picture) throw Error(err::kObjectNotSet, "no picture to save", kSource);
  WriteJpeg(*picture, path, quality);
  return 0;
}

void FfmpegCaptureDevice::SetCaptureFileName(const std::string& path) {
  MutexLock lock(mutex_);
  capture_file_ = path;
}

void FfmpegCaptureDevice::StartCapture() {
  std::string file;
  int width = 0, height = 0, fps = 0;
  int64_t limit = 0;
  int sample_rate = 0;
  {
    MutexLock lock(mutex_);
    sample_rate = options_.sample_rate;
    if (!connected_) throw Error(err::kComponentFailed, "the camera is not connected", kSource);
    if (fps_ <= 0) throw Error(err::kInvalidArgument, "no frame rate for the capture", kSource);
    file = capture_file_, fps = fps_;
    std::tie(width, height) = FrameSize();
    limit = time_limit_enabled_ && time_limit_ > 0 ? int64_t{time_limit_} * fps_ : 0;
  }
  if (capturing_) throw Error(err::kComponentFailed, "a capture is running", kSource);
  auto recorder = std::make_unique<AviRecorder>(file, width, height, fps, sample_rate);
  {
    MutexLock recording(record_mutex_);
    recorder_ = std::move(recorder);
    limit_frames_ = limit;
    paused_ = false;
    capturing_ = true;
  }
  { MutexLock lock(mutex_); }  // the engine sees the capture before it waits again
  wake_.notify_all();
}

void FfmpegCaptureDevice::StopCapture() {
  std::optional<Error> failure;
  bool ended = false;
  {
    MutexLock recording(record_mutex_);
    ended = FinishCapture(failure);
  }
  if (ended) TellCaptureEnd(std::move(failure));
}

void FfmpegCaptureDevice::PauseCapture(bool paused) {
  MutexLock recording(record_mutex_);
  paused_ = paused;
}

bool FfmpegCaptureDevice::IsCapturing() {
  return capturing_;
}

void FfmpegCaptureDevice::LayAgain() {
  std::apply([this](auto... laid) { OverlayBitmap(laid...); }, laid_);
}

void FfmpegCaptureDevice::OverlayBitmap(BitmapHandle bitmap, int32_t x, int32_t y,
                                        int32_t transparent) {
  laid_ = {bitmap, x, y, transparent};
  int32_t width = 0, height = 0, frame_width = 0, frame_height = 0;
  {
    MutexLock lock(mutex_);
    width = width_, height = height_;
    std::tie(frame_width, frame_height) = FrameSize();
  }
  std::shared_ptr<const PreparedOverlay> prepared = prepared_.Prepare(
      std::move(bitmap), x, y, transparent, width, height, frame_width, frame_height);
  MutexLock lock(mutex_);
  overlay_ = std::move(prepared);
}

void FfmpegCaptureDevice::SetDisplaySize(int32_t width, int32_t height) {
  MutexLock lock(mutex_);
  display_width_ = width, display_height_ = height;
}

}  // namespace moviletta
