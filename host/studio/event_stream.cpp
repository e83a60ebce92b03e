// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/event_stream.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "host/studio/json_variant.h"

namespace moviletta::web {
namespace {

constexpr std::size_t kKept = 1000;
constexpr std::size_t kMaxOpenBoxes = 100;
constexpr std::array<std::string_view, 11> kStateKinds = {
    "startup", "driver",    "StatusChanged", "ErrMsgChanged", "panel", "progress",
    "front",   "sendstart", "sendresult",    "nosound",       "skin"};

// Whether pages of `viewer` are told `event`.
bool Sees(std::string_view viewer, const EventStream::Event& event) {
  return event.audience == viewer || event.audience == EventStream::kEveryPage;
}

}  // namespace

EventStream::EventStream()
    : first_id_(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count())),
      next_id_(first_id_) {}

void EventStream::SetAudience(std::string audience) {
  MutexLock lock(mutex_);
  audience_ = std::move(audience);
}

void EventStream::Publish(std::string name, const nlohmann::json& data) {
  Add(std::nullopt, std::move(name), JsonText(data), std::nullopt);
}

void EventStream::PublishTo(std::string_view audience, std::string name,
                            const nlohmann::json& data) {
  Add(audience, std::move(name), JsonText(data), std::nullopt);
}

void EventStream::OpenBox(uint64_t box, std::string_view text) {
  Add(std::nullopt, "messagebox", JsonText({{"id", box}, {"text", std::string(text)}}), box);
}

void EventStream::Add(std::optional<std::string_view> audience, std::string name, std::string json,
                      std::optional<uint64_t> box) {
  {
    MutexLock lock(mutex_);
    Event event{next_id_++, std::move(name), std::move(json),
                std::string(audience.value_or(audience_))};
    if (std::ranges::find(kStateKinds, event.name) != kStateKinds.end())
      state_[{event.audience, event.name}] = event;
    if (box) {
      boxes_[*box] = event;
      if (boxes_.size() > kMaxOpenBoxes) boxes_.erase(boxes_.begin());
    }
    events_.push_back(std::move(event));
    if (events_.size() > kKept) events_.pop_front();
  }
  published_.notify_all();
}

void EventStream::CloseBox(uint64_t box) {
  MutexLock lock(mutex_);
  boxes_.erase(box);
}

std::vector<EventStream::Event> EventStream::CurrentLocked(uint64_t& last_id,
                                                           std::string_view viewer) const {
  std::vector<Event> current;
  for (const auto& [kind, event] : state_)
    if (Sees(viewer, event)) current.push_back(event);
  for (const auto& [box, event] : boxes_)
    if (Sees(viewer, event)) current.push_back(event);
  std::ranges::sort(current, {}, &Event::id);
  last_id = next_id_ - 1;
  return current;
}

std::vector<EventStream::Event> EventStream::Current(uint64_t& last_id,
                                                     std::string_view viewer) const {
  MutexLock lock(mutex_);
  return CurrentLocked(last_id, viewer);
}

std::vector<EventStream::Event> EventStream::Next(uint64_t& after,
                                                  std::chrono::milliseconds timeout,
                                                  std::string_view viewer) {
  MutexLock lock(mutex_);
  std::vector<Event> found;
  // An id of another process, or one this stream never gave: start afresh.
  if (!closed_ && (after + 1 < first_id_ || after >= next_id_)) {
    found = CurrentLocked(after, viewer);
    return found;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!closed_ && next_id_ - 1 <= after)
    if (lock.WaitUntil(published_, deadline) == std::cv_status::timeout) break;
  if (closed_) return found;
  if (!events_.empty() && events_.front().id > after + 1) {  // missed some: start afresh
    found = CurrentLocked(after, viewer);
    return found;
  }
  for (const Event& e : events_)
    if (e.id > after && Sees(viewer, e)) found.push_back(e);
  after = next_id_ - 1;
  return found;
}

void EventStream::Close() {
  {
    MutexLock lock(mutex_);
    closed_ = true;
  }
  published_.notify_all();
}

bool EventStream::closed() const {
  MutexLock lock(mutex_);
  return closed_;
}

}  // namespace moviletta::web
