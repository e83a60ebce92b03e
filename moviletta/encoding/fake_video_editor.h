// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "moviletta/common/number_text.h"
#include "moviletta/encoding/video_editor.h"

namespace moviletta {

// Records every property and call in order ("OutputFormat=6", "AddAudioClip(x,0,2.5)"), fails
// the call named in `fail_on`, answers GetClipDuration with `duration`, and raises the job's
// notifications on demand, from a thread of its own as the component would. Like the real
// component it runs one job at a time: SaveOutputFile throws until the last job has ended.
class FakeVideoEditor : public VideoEditor {
 public:
  std::vector<std::string> calls;
  // CompressAhead and ForgetAhead, apart from the job's calls: "CompressAhead(<path>)", "Forget".
  std::vector<std::string> ahead;
  std::string fail_on;
  double duration = 2.5;

  // The notifications of the last job started (job 0 before any).
  void RaiseProcessing(double done, double total) { RaiseProcessingOf(last_job_, done, total); }
  // A progress notification of any job, such as one that ended long ago.
  void RaiseProcessingOf(EditJobId job, double done, double total);
  void RaiseComplete();
  void RaiseFailed(Error failure);
  bool running() const { return running_; }
  EditJobId last_job() const { return last_job_; }

  void OnProcessing(std::function<void(EditJobId, double, double)> processing) override {
    processing_ = processing;
  }
  void OnComplete(std::function<void(EditJobId)> complete) override { complete_ = complete; }
  void OnFailed(std::function<void(EditJobId, Error)> failed) override { failed_ = failed; }

  void SetOutputFormat(int32_t format) override { Put("OutputFormat", format); }
  void SetAudioSampleRate(int32_t rate) override { Put("AudioSampleRate", rate); }
  void SetAudioBitRate(int32_t rate) override { Put("AudioBitRate", rate); }
  void SetSampleSize(int32_t bits) override { Put("SampleSize", bits); }
  void SetOutputHeight(int32_t height) override { Put("OutputHeight", height); }
  void SetOutputWidth(int32_t width) override { Put("OutputWidth", width); }
  void SetOutputFrameRate(int32_t fps) override { Put("OutputFrameRate", fps); }
  void InitEditor() override { Record("InitEditor"); }
  double GetClipDuration(const std::string& path) override;
  void AddVideoClip(const std::string& path, double start, double end, int16_t flags) override;
  void AddAudioClip(const std::string& path, double start, double end) override;
  EditJobId SaveOutputFile(const std::string& path) override;
  void CompressAhead(const std::string& path, double start = 0, double end = 0) override {
    ahead.push_back("CompressAhead(" + path +
                    (start || end ? "," + DoubleToText(start) + "," + DoubleToText(end) : "") +
                    ")");
  }
  void ForgetAhead() override { ahead.push_back("Forget"); }

 private:
  void Put(const char* property, int32_t value) {
    Record(std::string(property) + "=" + std::to_string(value));
  }
  void Record(std::string call);

  std::function<void(EditJobId, double, double)> processing_;
  std::function<void(EditJobId)> complete_;
  std::function<void(EditJobId, Error)> failed_;
  bool running_ = false;
  EditJobId last_job_ = 0;
};

}  // namespace moviletta
