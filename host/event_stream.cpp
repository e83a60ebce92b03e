#include "host/event_stream.h"

namespace moviletta::web {
namespace {
constexpr std::size_t kKept = 1000;
}

void EventStream::Publish(std::string name, std::string json) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back({next_id_++, std::move(name), std::move(json)});
    if (events_.size() > kKept) events_.pop_front();
  }
  published_.notify_all();
}

std::vector<EventStream::Event> EventStream::Next(uint64_t after,
                                                  std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  published_.wait_for(lock, timeout,
                      [&] { return closed_ || (!events_.empty() && events_.back().id > after); });
  std::vector<Event> found;
  if (closed_) return found;
  for (const Event& e : events_)
    if (e.id > after) found.push_back(e);
  return found;
}

void EventStream::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  published_.notify_all();
}

bool EventStream::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace moviletta::web
