#pragma once

#include <string>
#include <vector>

#include "moviletta/encoding/video_editor.h"

namespace moviletta {

// Records every property and call in order ("OutputFrameRate=15").
class FakeVideoEditor : public VideoEditor {
 public:
  std::vector<std::string> calls;

  void SetOutputFrameRate(int32_t fps) override {
    calls.push_back("OutputFrameRate=" + std::to_string(fps));
  }
};

}  // namespace moviletta
