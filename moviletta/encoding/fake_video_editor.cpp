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

void FakeVideoEditor::RaiseProcessing(double done, double total) {
  if (processing_) std::thread(processing_, done, total).join();
}

void FakeVideoEditor::RaiseComplete() {
  if (complete_) std::thread(complete_).join();
}

void FakeVideoEditor::RaiseFailed(Error failure) {
  if (failed_) std::thread(failed_, std::move(failure)).join();
}

}  // namespace moviletta
