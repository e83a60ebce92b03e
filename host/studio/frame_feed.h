// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>

#include "moviletta/common/bitmap.h"
#include "moviletta/common/mutex.h"

namespace moviletta::web {

// The latest picture of a window (the capture or the player) for its video stream. Any thread:
// the engine pushes, the stream's readers wait for the next one.
class FrameFeed {
 public:
  void Push(BitmapHandle frame) {
    {
      MutexLock lock(mutex_);
      latest_ = std::move(frame);
      ++number_;
    }
    pushed_.notify_all();
  }

  // The first picture after number `seen` (which it updates); null after `timeout` or Close.
  BitmapHandle Next(uint64_t& seen, std::chrono::milliseconds timeout) {
    MutexLock lock(mutex_);
    if (seen > number_) seen = 0;  // a number of a feed before this one (the studio restarted)
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto waiting = [&]()
                             REQUIRES(mutex_) { return !closed_ && (number_ <= seen || !latest_); };
    while (waiting())
      if (lock.WaitUntil(pushed_, deadline) == std::cv_status::timeout) break;
    if (closed_ || number_ <= seen || !latest_) return nullptr;
    seen = number_;
    return latest_;
  }

  // Lets the latest picture go: the next reader waits for a new one (a session ended, and its
  // picture is not the next session's).
  void Forget() {
    MutexLock lock(mutex_);
    latest_.reset();
  }

  bool closed() {
    MutexLock lock(mutex_);
    return closed_;
  }

  void Close() {
    {
      MutexLock lock(mutex_);
      closed_ = true;
    }
    pushed_.notify_all();
  }

 private:
  Mutex mutex_;
  std::condition_variable pushed_;
  BitmapHandle latest_ GUARDED_BY(mutex_);
  uint64_t number_ GUARDED_BY(mutex_) = 0;
  bool closed_ GUARDED_BY(mutex_) = false;
};

}  // namespace moviletta::web
