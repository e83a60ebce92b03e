#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "moviletta/common/shared_callback.h"
#include "moviletta/encoding/transcode.h"
#include "moviletta/encoding/video_editor.h"

namespace moviletta {

// The editing component on FFmpeg. Format 9 writes a Windows Media file (ASF with WMV 8 pictures
// and WMA 2 sound), format 6 an MPEG program stream with MPEG-1 pictures where the frame rate is
// one MPEG-1 knows, MPEG-2 otherwise, and MP2 sound. See Transcode for the rest.
//
// Threads: the host thread calls the VideoEditor members; a job runs on the editor's own thread,
// one at a time, and calls the callbacks from there. The destructor cancels a running job and
// joins its thread; the cancelled job tells nothing.
class FfmpegVideoEditor : public VideoEditor {
 public:
  FfmpegVideoEditor() = default;
  ~FfmpegVideoEditor() override;

  void OnProcessing(std::function<void(EditJobId, double, double)> processing) override;
  void OnComplete(std::function<void(EditJobId)> complete) override;
  void OnFailed(std::function<void(EditJobId, Error)> failed) override;

  void SetOutputFormat(int32_t format) override { job_.format = format; }
  void SetAudioSampleRate(int32_t rate) override { job_.sample_rate = rate; }
  void SetAudioBitRate(int32_t rate) override { job_.audio_bit_rate = rate; }
  // The sample size of the sound in bits; the encoders take 16-bit sound whatever it says.
  void SetSampleSize(int32_t) override {}
  void SetOutputHeight(int32_t height) override { job_.height = height; }
  void SetOutputWidth(int32_t width) override { job_.width = width; }
  void SetOutputFrameRate(int32_t fps) override;

  void InitEditor() override;
  // Throws Error when the file cannot be read or has no length.
  double GetClipDuration(const std::string& path) override;
  void AddVideoClip(const std::string& path, double start, double end, int16_t flags) override;
  void AddAudioClip(const std::string& path, double start, double end) override;
  // Throws Error when a job runs already, when no format or no clip is set, or when the pictures
  // and the sound come from different files or spans.
  EditJobId SaveOutputFile(const std::string& path) override;

 private:
  struct Clip {
    std::string path;
    double start = 0;
    double end = 0;
  };

  TranscodeJob job_;
  std::optional<Clip> video_;
  std::optional<Clip> audio_;

  SharedCallback<void(EditJobId, double, double)> processing_;
  SharedCallback<void(EditJobId)> complete_;
  SharedCallback<void(EditJobId, Error)> failed_;
  EditJobId last_job_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  std::thread worker_;
};

}  // namespace moviletta
