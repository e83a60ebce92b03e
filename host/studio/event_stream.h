// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "moviletta/common/mutex.h"

namespace moviletta::web {

// What the page is told, as server-sent events: numbered, the recent ones kept so that a page
// that reconnects misses nothing. A page that connects afresh (or too late to catch up) is
// told the current state instead of the history: the last event of each state kind (start-up,
// driver, status, message, panel, progress, front window, send start and result, no sound, skin)
// and the message boxes still waiting. Ids grow across the studio's processes (the first is the
// microseconds since the epoch at construction), so that a page reconnecting with an id of an
// earlier process, or an id this one never gave, starts afresh. Each event has an audience: the
// pages of one origin ("" for the studio's own page) or every page (kEveryPage); a page sees its
// own and every page's, and the state it starts with is its own. Memory is bounded. Any thread.
class EventStream {
 public:
  static constexpr std::string_view kEveryPage = "*";

  EventStream();

  struct Event {
    uint64_t id;
    std::string name;
    std::string json;
    std::string audience;
  };

  // The audience of what Publish and OpenBox publish from now on (at first "").
  void SetAudience(std::string audience);
  // Publishes event `name` with `data`; texts that are not UTF-8 get U+FFFD for each bad byte.
  void Publish(std::string name, const nlohmann::json& data);
  // The same, for `audience`.
  void PublishTo(std::string_view audience, std::string name, const nlohmann::json& data);
  // Publishes message box `box` as "messagebox" {"id", "text"}; it is state until CloseBox.
  void OpenBox(uint64_t box, std::string_view text);
  // Message box `box` is closed: no longer state.
  void CloseBox(uint64_t box);

  // What a new connection of a page of `viewer` starts with: the current state, in the order it
  // was published, and the id after which its live events follow.
  std::vector<Event> Current(uint64_t& last_id, std::string_view viewer = "") const;
  // The events for `viewer` after `after`, which moves past the last one looked at; waits up to
  // `timeout` when there are none. When events after it are no longer kept, or `after` is no id
  // of this stream, returns the current state instead (see Current). Empty after Close.
  std::vector<Event> Next(uint64_t& after, std::chrono::milliseconds timeout,
                          std::string_view viewer = "");
  // Wakes every waiter for good.
  void Close();
  bool closed() const;

 private:
  std::vector<Event> CurrentLocked(uint64_t& last_id, std::string_view viewer) const
      REQUIRES(mutex_);
  void Add(std::optional<std::string_view> audience, std::string name, std::string json,
           std::optional<uint64_t> box) EXCLUDES(mutex_);

  mutable Mutex mutex_;
  std::condition_variable published_;
  std::deque<Event> events_ GUARDED_BY(mutex_);
  std::string audience_ GUARDED_BY(mutex_);
  std::map<std::pair<std::string, std::string>, Event> state_
      GUARDED_BY(mutex_);                               // by audience and kind
  std::map<uint64_t, Event> boxes_ GUARDED_BY(mutex_);  // open message boxes by box id
  const uint64_t first_id_;
  uint64_t next_id_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
};

}  // namespace moviletta::web
