#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace moviletta::web {

// What the page is told, as server-sent events: numbered, kept for a while so that a page that
// reconnects misses nothing recent. Any thread.
class EventStream {
 public:
  struct Event {
    uint64_t id;
    std::string name;
    std::string json;
  };

  void Publish(std::string name, std::string json);
  // The events after `after`; waits up to `timeout` when there are none. Empty after Close.
  std::vector<Event> Next(uint64_t after, std::chrono::milliseconds timeout);
  // Wakes every waiter for good.
  void Close();
  bool closed() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable published_;
  std::deque<Event> events_;
  uint64_t next_id_ = 1;
  bool closed_ = false;
};

}  // namespace moviletta::web
