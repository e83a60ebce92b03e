// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "moviletta/common/mutex.h"
#include "moviletta/common/shared_callback.h"
#include "moviletta/encoding/transcode.h"
#include "moviletta/encoding/video_editor.h"

namespace moviletta {

// The editing component on FFmpeg. Format 9 writes a Windows Media file (ASF with WMV 8 pictures
// and WMA 2 sound), format 6 an MPEG program stream with MPEG-1 pictures where the frame rate is
// one MPEG-1 knows, MPEG-2 otherwise, and MP2 sound. See Transcode for the rest.
//
// CompressAhead compresses into a private file in the system's temporary folder, on the job
// thread at the lowest priority (nice 19). A SaveOutputFile of the same recording (device, inode,
// size and modification time unchanged) with the same settings takes that work over: finished,
// the file is moved into place and the job tells 100 % and completes at once; still running, the
// job goes on from where it is and tells its progress from then on. Anything else drops it.
//
// Threads: the host thread calls the VideoEditor members; a job (and the work ahead) runs on the
// editor's own thread, one at a time, and calls the callbacks from there. The destructor cancels
// a running job and joins its thread; the cancelled job tells nothing.
class FfmpegVideoEditor : public VideoEditor {
 public:
  FfmpegVideoEditor() = default;
  ~FfmpegVideoEditor() override;

  void OnProcessing(std::function<void(EditJobId, double, double)> processing) override;
  void OnComplete(std::function<void(EditJobId)> complete) override;
  void OnFailed(std::function<void(EditJobId, Error)> failed) override;

  void SetOutputFormat(int32_t format) override { output_settings_.format = format; }
  void SetAudioSampleRate(int32_t rate) override { output_settings_.sample_rate = rate; }
  void SetAudioBitRate(int32_t rate) override { output_settings_.audio_bit_rate = rate; }
  // The sample size of the sound in bits; the encoders take 16-bit sound whatever it says.
  void SetSampleSize(int32_t) override {}
  void SetOutputHeight(int32_t height) override { output_settings_.height = height; }
  void SetOutputWidth(int32_t width) override { output_settings_.width = width; }
  void SetOutputFrameRate(int32_t fps) override;

  void InitEditor() override;
  // Throws Error when the file cannot be read or has no length.
  double GetClipDuration(const std::string& path) override;
  void AddVideoClip(const std::string& path, double start, double end, int16_t flags) override;
  void AddAudioClip(const std::string& path, double start, double end) override;
  // Throws Error when a job runs already, when no format or no clip is set, or when the pictures
  // and the sound come from different files or spans.
  EditJobId SaveOutputFile(const std::string& path) override;

  void CompressAhead(const std::string& path, double start = 0, double end = 0) override;
  void ForgetAhead() override;

 private:
  friend class EditorTesting;  // the tests' way to where the work ahead stands

  enum class Ahead { kNone, kRunning, kReady };
  // Where the work ahead stands: none (or taken over by a job), running, or waiting to be taken.
  Ahead AheadState() EXCLUDES(mutex_);

  struct Clip {
    std::string path;
    double start = 0;
    double end = 0;
  };
  // The work CompressAhead began, shared with the job thread.
  struct AheadWork {
    TranscodeJob job;      // its output is the private file
    std::string identity;  // the recording's, when the work began
    bool ended = false;    // guarded by mutex_, as the rest below
    std::optional<Error> failure;
    EditJobId taken_by = 0;  // the job that took the work over, if one did
    std::string output;      // where that job wants the file
  };

  // Runs `work` on the job thread: `ahead` when it is work ahead, else job `id`.
  void StartJob(TranscodeJob work, std::shared_ptr<AheadWork> ahead, EditJobId id);
  // Tells job `id`'s end: moves `ahead`'s file to the job's output first when it has one.
  void Finish(EditJobId id, std::optional<Error> failure, const std::shared_ptr<AheadWork>& ahead);
  // Takes the work ahead over for job `id` writing `output`, when it makes the same file.
  bool TakeOver(const TranscodeJob& wanted, EditJobId id) EXCLUDES(mutex_);
  void JoinThread();
  // Whether the output format set is one this editor writes.
  bool WritesFormat() const;

  TranscodeJob output_settings_;  // format, size, rates: what each job starts from
  std::optional<Clip> video_;
  std::optional<Clip> audio_;

  SharedCallback<void(EditJobId, double, double)> processing_;
  SharedCallback<void(EditJobId)> complete_;
  SharedCallback<void(EditJobId, Error)> failed_;
  EditJobId last_job_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  Mutex mutex_;
  std::shared_ptr<AheadWork> ahead_ GUARDED_BY(mutex_);
  std::thread worker_;
};

}  // namespace moviletta
