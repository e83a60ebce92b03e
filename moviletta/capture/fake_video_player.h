#pragma once

#include <functional>
#include <string>
#include <vector>

#include "moviletta/capture/video_player.h"

namespace moviletta {

// Records every call as text ("OpenFile(/x/Moviletta.avi)", "Play") and fails the call named in
// `fail_on`; raises PlayerChangeState on demand, from a thread of its own as the player would.
class FakeVideoPlayer : public VideoPlayer {
 public:
  std::vector<std::string> calls;
  std::string fail_on;

  void RaisePlayerChangeState(int32_t state);

  void OnPlayerChangeState(std::function<void(int32_t)> change_state) override {
    change_state_ = change_state;
  }
  void OpenFile(const std::string& path) override { Record("OpenFile(" + path + ")"); }
  void Play() override { Record("Play"); }
  void StopPlayback() override { Record("StopPlayback"); }
  void CloseFile() override { Record("CloseFile"); }
  void SetDisplaySize(int32_t width, int32_t height) override {
    Record("SetDisplaySize(" + std::to_string(width) + "," + std::to_string(height) + ")");
  }

 private:
  void Record(std::string call);
  std::function<void(int32_t)> change_state_;
};

}  // namespace moviletta
