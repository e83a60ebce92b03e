// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "moviletta/control/event_queue.h"
#include "moviletta/control/host.h"

namespace moviletta {

// A host without a screen, for the command line and the tests: its thread is the thread that
// runs ProcessPendingEvents; the property bag lives in memory; what the control shows or raises
// goes to the optional callbacks. Host thread only, except queue().Post.
class HeadlessHost : public Host {
 public:
  HeadlessHost();

  EventQueue& queue() { return queue_; }
  // Ends every yield of the control from here on. Any thread.
  void RequestStop() {
    stop_requested_ = true;
    queue_.Wake();
  }
  bool StopRequested() const override { return stop_requested_; }

  void ProcessPendingEvents(
      std::chrono::milliseconds max_wait = std::chrono::milliseconds(0)) override;
  Variant ReadProperty(std::string_view name, const Variant& default_value) override;
  void WriteProperty(std::string_view name, const Variant& value,
                     const Variant& default_value) override;
  void PropertyChanged(std::string_view name) override;
  bool UserMode() const override { return user_mode; }
  void RaiseEvent(ControlEvent event, const EventSnapshot& now) override;
  void BringToFront(SurfaceWindow window) override;
  void MessageBox(std::string_view text) override;
  std::chrono::steady_clock::time_point Now() const override;

  bool user_mode = true;
  std::map<std::string, Variant, std::less<>> property_bag;
  std::vector<std::string> changed_properties;

  std::function<void(ControlEvent)> on_event;
  std::function<void(std::string_view)> on_message_box;
  std::function<void(SurfaceWindow)> on_bring_to_front;
  // A failure that left a queued notification; it is dropped after this call.
  std::function<void(const Error&)> on_dropped_failure;

 private:
  EventQueue queue_;
  std::atomic<bool> stop_requested_{false};
};

}  // namespace moviletta
