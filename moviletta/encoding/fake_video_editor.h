#pragma once

#include <functional>
#include <string>
#include <vector>

#include "moviletta/encoding/video_editor.h"

namespace moviletta {

// Records every property and call in order ("OutputFormat=6", "AddAudioClip(x,0,2.5)"), fails
// the call named in `fail_on`, answers GetClipDuration with `duration`, and raises the job's
// notifications on demand, from a thread of its own as the component would.
class FakeVideoEditor : public VideoEditor {
 public:
  std::vector<std::string> calls;
  std::string fail_on;
  double duration = 2.5;

  void RaiseProcessing(double done, double total);
  void RaiseComplete();
  void RaiseFailed(Error failure);

  void OnProcessing(std::function<void(double, double)> processing) override {
    processing_ = processing;
  }
  void OnComplete(std::function<void()> complete) override { complete_ = complete; }
  void OnFailed(std::function<void(Error)> failed) override { failed_ = failed; }

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
  void SaveOutputFile(const std::string& path) override { Record("SaveOutputFile(" + path + ")"); }

 private:
  void Put(const char* property, int32_t value) {
    Record(std::string(property) + "=" + std::to_string(value));
  }
  void Record(std::string call);

  std::function<void(double, double)> processing_;
  std::function<void()> complete_;
  std::function<void(Error)> failed_;
};

}  // namespace moviletta
