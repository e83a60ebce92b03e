// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace moviletta {

// The player component (VideoCapX2) that plays a recording back.
//
// Threads: the control calls every member on the host thread; a failing call throws Error. The
// player tells its state changes by calling `change_state` from any thread; 0 means stopped.
class VideoPlayer {
 public:
  virtual ~VideoPlayer() = default;

  virtual void OnPlayerChangeState(std::function<void(int32_t state)> change_state) = 0;

  virtual void OpenFile(const std::string& path) = 0;
  // The part of the open file that Play plays, in seconds of the file (end 0: to its end);
  // OpenFile plays the whole file again.
  virtual void SetPlayRange(double start, double end) = 0;
  // Starts playing and returns while it goes on.
  virtual void Play() = 0;
  virtual void StopPlayback() = 0;
  // Releases the file.
  virtual void CloseFile() = 0;
  virtual void SetDisplaySize(int32_t width, int32_t height) = 0;
};

}  // namespace moviletta
