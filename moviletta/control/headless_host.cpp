// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/headless_host.h"

namespace moviletta {

HeadlessHost::HeadlessHost()
    : queue_([this](const Error& failure) {
        if (on_dropped_failure) on_dropped_failure(failure);
      }) {}

void HeadlessHost::ProcessPendingEvents(std::chrono::milliseconds max_wait) {
  queue_.RunPending(max_wait);
}

Variant HeadlessHost::ReadProperty(std::string_view name, const Variant& default_value) {
  const auto found = property_bag.find(name);
  return found == property_bag.end() ? default_value : found->second;
}

void HeadlessHost::WriteProperty(std::string_view name, const Variant& value, const Variant&) {
  property_bag.insert_or_assign(std::string(name), value);
}

void HeadlessHost::PropertyChanged(std::string_view name) {
  changed_properties.emplace_back(name);
}

void HeadlessHost::RaiseEvent(ControlEvent event, const EventSnapshot&) {
  if (on_event) on_event(event);
}

void HeadlessHost::BringToFront(SurfaceWindow window) {
  if (on_bring_to_front) on_bring_to_front(window);
}

void HeadlessHost::MessageBox(std::string_view text) {
  if (on_message_box) on_message_box(text);
}

std::chrono::steady_clock::time_point HeadlessHost::Now() const {
  return std::chrono::steady_clock::now();
}

}  // namespace moviletta
