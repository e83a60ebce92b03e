// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "moviletta/common/error.h"

namespace moviletta {

// The number of one editing job, given by SaveOutputFile and carried by its notifications.
using EditJobId = uint64_t;

// Output formats of the editing component.
inline constexpr int32_t kOutputFormatMpeg = 6;
inline constexpr int32_t kOutputFormatWmv = 9;

// The editing component (VideoEdit1) that merges a recording's pictures and sound into one
// compressed file.
//
// Threads: the control calls every member on the host thread; a failing call throws Error. The
// job started by SaveOutputFile runs on a thread of the component's own, which tells its progress
// (seconds done, seconds in all), its completion and its failure through the callbacks, from that
// thread, each naming the job it belongs to. A job ends with exactly one of `complete` and
// `failed`. One job runs at a time: SaveOutputFile throws while a job has not ended.
class VideoEditor {
 public:
  virtual ~VideoEditor() = default;

  virtual void OnProcessing(
      std::function<void(EditJobId job, double done, double total)> processing) = 0;
  virtual void OnComplete(std::function<void(EditJobId job)> complete) = 0;
  virtual void OnFailed(std::function<void(EditJobId job, Error failure)> failed) = 0;

  // kOutputFormatMpeg or kOutputFormatWmv.
  virtual void SetOutputFormat(int32_t format) = 0;
  virtual void SetAudioSampleRate(int32_t rate) = 0;
  virtual void SetAudioBitRate(int32_t bits_per_second) = 0;
  virtual void SetSampleSize(int32_t bits) = 0;
  virtual void SetOutputHeight(int32_t height) = 0;
  virtual void SetOutputWidth(int32_t width) = 0;
  // 0 keeps the input's rate. Throws Error 5 outside 0 to kMaxFrameRate.
  virtual void SetOutputFrameRate(int32_t fps) = 0;

  // Starts a new job: forgets the clips of the last one.
  virtual void InitEditor() = 0;
  // The length of a media file in seconds.
  virtual double GetClipDuration(const std::string& path) = 0;
  // The pictures of `path` from `start` to `end` seconds become the job's pictures.
  virtual void AddVideoClip(const std::string& path, double start, double end, int16_t flags) = 0;
  // The sound of `path` from `start` to `end` seconds becomes the job's sound.
  virtual void AddAudioClip(const std::string& path, double start, double end) = 0;
  // Starts writing the output file and returns the job's number while the job goes on.
  virtual EditJobId SaveOutputFile(const std::string& path) = 0;

  // The recording at `path` has just ended: the component may compress it whole now, with the
  // output settings set now, in the background and at low priority, so that a SaveOutputFile of
  // the same recording with the same settings completes sooner (its notifications are the same).
  // The work is written in the hidden folder ".ahead" beside the recording (made owner-only),
  // which whoever owns that folder sweeps when no work can run; nothing is told, and a call the
  // component cannot use changes nothing.
  // Only the part from `start` to `end` seconds (`end` 0: to the end) is compressed, as a
  // SaveOutputFile with those clips would.
  virtual void CompressAhead(const std::string& path, double start = 0, double end = 0) = 0;
  static constexpr const char* kAheadFolder = ".ahead";
  // Drops what CompressAhead began (a new recording replaces the file): from now on the component
  // leaves the processor and the recording alone until asked.
  virtual void ForgetAhead() = 0;
};

}  // namespace moviletta
