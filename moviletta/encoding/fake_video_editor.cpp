// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/encoding/fake_video_editor.h"

#include <thread>

#include "moviletta/common/number_text.h"

namespace moviletta {

void FakeVideoEditor::Record(std::string call) {
  const std::string name = call.substr(0, call.find_first_of("=("));
  if (!fail_on.empty() && name == fail_on)
    throw Error(err::kComponentFailed, name + " failed", "FakeVideoEditor");
  calls.push_back(std::move(call));
}

double FakeVideoEditor::GetClipDuration(const std::string& path) {
  Record("GetClipDuration(" + path + ")");
  return duration;
}

void FakeVideoEditor::AddVideoClip(const std::string& path, double start, double end,
                                   int16_t flags) {
  Record("AddVideoClip(" + path + "," + DoubleToText(start) + "," + DoubleToText(end) + "," +
         std::to_string(flags) + ")");
}

void FakeVideoEditor::AddAudioClip(const std::string& path, double start, double end) {
  Record("AddAudioClip(" + path + "," + DoubleToText(start) + "," + DoubleToText(end) + ")");
}

EditJobId FakeVideoEditor::SaveOutputFile(const std::string& path) {
  if (running_) throw Error(err::kComponentFailed, "a compression is running", "FakeVideoEditor");
  Record("SaveOutputFile(" + path + ")");
  running_ = true;
  return ++last_job_;
}

void FakeVideoEditor::RaiseProcessingOf(EditJobId job, double done, double total) {
  if (processing_) std::thread(processing_, job, done, total).join();
}

void FakeVideoEditor::RaiseComplete() {
  running_ = false;
  if (complete_) std::thread(complete_, last_job_).join();
}

void FakeVideoEditor::RaiseFailed(Error failure) {
  running_ = false;
  if (failed_) std::thread(failed_, last_job_, std::move(failure)).join();
}

}  // namespace moviletta
