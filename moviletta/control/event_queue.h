// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>

#include "moviletta/common/error.h"
#include "moviletta/common/mutex.h"

namespace moviletta {

// Work for the host thread. Any thread may Post; only the host thread runs RunPending.
class EventQueue {
 public:
  using Task = std::function<void()>;
  // Told, on the host thread, of a failure that left a task.
  using FailureSink = std::function<void(const Error&)>;

  explicit EventQueue(FailureSink on_failure = {}) : on_failure_(std::move(on_failure)) {}

  // Any thread.
  void Post(Task task);

  // Host thread. Runs as many tasks as were queued when it starts, each time taking the oldest
  // task still queued, so that a call nested inside a task goes on where the outer one stood
  // and every task runs in the order it was posted. When nothing is queued, waits up to
  // `max_wait` for a task (or a Wake) first. A failure inside a task goes to the failure sink
  // and never stops the queue. Returns the tasks this call ran.
  std::size_t RunPending(std::chrono::milliseconds max_wait = std::chrono::milliseconds(0));

  // Any thread. Ends the wait of a RunPending that has nothing to run.
  void Wake();

 private:
  Mutex mutex_;
  std::condition_variable posted_;
  std::deque<Task> tasks_ GUARDED_BY(mutex_);
  bool woken_ GUARDED_BY(mutex_) = false;
  FailureSink on_failure_;
};

// Posts notifications on behalf of one control. The control must be destroyed on the host thread;
// a notification that is still queued then is dropped when its turn comes. Any thread.
class NotificationPoster {
 public:
  NotificationPoster(EventQueue& queue, std::weak_ptr<const void> alive)
      : queue_(&queue), alive_(std::move(alive)) {}

  void Post(std::function<void()> notification) const;

 private:
  EventQueue* queue_;
  std::weak_ptr<const void> alive_;
};

}  // namespace moviletta
