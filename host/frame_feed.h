#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "moviletta/common/bitmap.h"

namespace moviletta::web {

// The latest picture of a window (the capture or the player) for its video stream. Any thread:
// the engine pushes, the stream's readers wait for the next one.
class FrameFeed {
 public:
  void Push(BitmapHandle frame) {
    {
      std::lock_guard lock(mutex_);
      latest_ = std::move(frame);
      ++number_;
    }
    pushed_.notify_all();
  }

  // The first picture after number `seen` (which it updates); null after `timeout` or Close.
  BitmapHandle Next(uint64_t& seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!pushed_.wait_for(lock, timeout, [&] { return closed_ || number_ > seen; }) || closed_)
      return nullptr;
    seen = number_;
    return latest_;
  }

  bool closed() {
    std::lock_guard lock(mutex_);
    return closed_;
  }

  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    pushed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable pushed_;
  BitmapHandle latest_;
  uint64_t number_ = 0;
  bool closed_ = false;
};

}  // namespace moviletta::web
