#include "moviletta/control/event_queue.h"

namespace moviletta {

void EventQueue::Post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  posted_.notify_one();
}

std::size_t EventQueue::RunPending(std::chrono::milliseconds max_wait) {
  std::deque<Task> batch;
  {
    std::unique_lock lock(mutex_);
    if (tasks_.empty() && max_wait.count() > 0)
      posted_.wait_for(lock, max_wait, [this] { return !tasks_.empty(); });
    batch.swap(tasks_);
  }
  for (Task& task : batch) {
    try {
      task();
    } catch (...) {
      if (on_failure_) on_failure_(Error::FromCurrent());
    }
  }
  return batch.size();
}

void NotificationPoster::Post(std::function<void()> notification) const {
  queue_->Post([alive = alive_, notification = std::move(notification)] {
    if (alive.lock()) notification();
  });
}

}  // namespace moviletta
