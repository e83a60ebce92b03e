// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <optional>

#include "moviletta/common/mutex.h"

namespace moviletta {

// A bounded first-in first-out queue between the threads of one compression. Push waits while
// it is full, Pop while it is empty; Abort ends both sides at once, whatever it still holds.
// Any thread.
template <class T>
class Channel {
 public:
  explicit Channel(std::size_t capacity) : capacity_(capacity) {}

  // False when the channel was aborted: `item` is dropped.
  bool Push(T item) {
    MutexLock lock(mutex_);
    while (!aborted_ && items_.size() >= capacity_) lock.Wait(changed_);
    if (aborted_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }

  // The oldest item; nothing once the channel was aborted.
  std::optional<T> Pop() {
    MutexLock lock(mutex_);
    while (!aborted_ && items_.empty()) lock.Wait(changed_);
    if (aborted_) return std::nullopt;
    std::optional<T> item(std::move(items_.front()));
    items_.pop_front();
    changed_.notify_all();
    return item;
  }

  void Abort() {
    MutexLock lock(mutex_);
    aborted_ = true;
    changed_.notify_all();
  }

 private:
  const std::size_t capacity_;
  Mutex mutex_;
  std::condition_variable changed_;
  std::deque<T> items_ GUARDED_BY(mutex_);
  bool aborted_ GUARDED_BY(mutex_) = false;
};

}  // namespace moviletta
