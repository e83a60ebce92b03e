// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/event_queue.h"

namespace moviletta {

void EventQueue::Post(Task task) {
  {
    MutexLock lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  posted_.notify_one();
}

std::size_t EventQueue::RunPending(std::chrono::milliseconds max_wait) {
  std::size_t turns = 0;
  {
    MutexLock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + max_wait;
    while (tasks_.empty() && !woken_ && max_wait.count() > 0)
      if (lock.WaitUntil(posted_, deadline) == std::cv_status::timeout) break;
    woken_ = false;
    turns = tasks_.size();
  }
  // One task per turn, always the oldest: a pump nested inside a task takes the next one, so
  // nothing queued before it waits for the outer task to end.
  std::size_t ran = 0;
  for (; ran < turns; ++ran) {
    Task task;
    {
      MutexLock lock(mutex_);
      if (tasks_.empty()) break;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    try {
      task();
    } catch (...) {
      if (on_failure_) on_failure_(Error::FromCurrent());
    }
  }
  return ran;
}

void EventQueue::Wake() {
  {
    MutexLock lock(mutex_);
    woken_ = true;
  }
  posted_.notify_all();
}

void NotificationPoster::Post(std::function<void()> notification) const {
  queue_->Post([alive = alive_, notification = std::move(notification)] {
    if (alive.lock()) notification();
  });
}

}  // namespace moviletta
