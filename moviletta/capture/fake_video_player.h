// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "moviletta/capture/video_player.h"

namespace moviletta {

// Records every call as text ("OpenFile(/x/Moviletta.avi)", "Play") and fails the call named in
// `fail_on`; keeps what a person would see of a player (its file, whether it plays, its window's
// size); raises PlayerChangeState on demand, from a thread of its own as the player would.
class FakeVideoPlayer : public VideoPlayer {
 public:
  std::vector<std::string> calls;
  std::string fail_on;
  std::string file;  // "" while none is open
  bool playing = false;
  std::pair<double, double> range;  // the part Play plays; (0, 0) is the whole file
  int32_t display_width = 0;
  int32_t display_height = 0;

  void RaisePlayerChangeState(int32_t state);

  void OnPlayerChangeState(std::function<void(int32_t)> change_state) override {
    change_state_ = change_state;
  }
  void OpenFile(const std::string& path) override {
    Record("OpenFile(" + path + ")");
    file = path, range = {};
  }
  void SetPlayRange(double start, double end) override { range = {start, end}; }
  void Play() override {
    Record("Play");
    playing = !file.empty();
  }
  void StopPlayback() override {
    Record("StopPlayback");
    playing = false;
  }
  void CloseFile() override {
    Record("CloseFile");
    file.clear(), playing = false;
  }
  void SetDisplaySize(int32_t width, int32_t height) override {
    Record("SetDisplaySize(" + std::to_string(width) + "," + std::to_string(height) + ")");
    display_width = width, display_height = height;
  }

 private:
  void Record(std::string call);
  std::function<void(int32_t)> change_state_;
};

}  // namespace moviletta
