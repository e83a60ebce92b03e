// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "moviletta/common/variant.h"
#include "moviletta/control/movilettas.h"

namespace moviletta {

// What the page reads from the control at the moment an event is raised.
struct EventSnapshot {
  int32_t ClientStatus = 0;
  std::string ErrMsg;
};

// Windows and panels of the control's surface that the host can bring to the front.
enum class SurfaceWindow { VideoCapX1, VideoCapX2, picGeneral };

// The services the control needs from the container that hosts it. Every call comes from the
// host thread; none may be made from another thread.
class Host {
 public:
  virtual ~Host() = default;

  // Runs the host's pending events (page calls, component notifications). When none is pending,
  // may wait up to `max_wait` for one to arrive.
  virtual void ProcessPendingEvents(
      std::chrono::milliseconds max_wait = std::chrono::milliseconds(0)) = 0;

  // The property bag: the stored value of `name`, or `default_value` when none is stored.
  virtual Variant ReadProperty(std::string_view name, const Variant& default_value) = 0;
  // Stores `value`; a value equal to `default_value` need not be kept.
  virtual void WriteProperty(std::string_view name, const Variant& value,
                             const Variant& default_value) = 0;
  // Marks a persisted property as changed so that the host saves the control's properties when
  // it next saves them.
  virtual void PropertyChanged(std::string_view name) = 0;

  // True when a page runs the control (user mode), false in a design environment.
  virtual bool UserMode() const = 0;

  // Raises an event into page script, synchronously; handlers may call the control again.
  // `now` is the control's state as the event is raised.
  virtual void RaiseEvent(ControlEvent event, const EventSnapshot& now) = 0;

  virtual void BringToFront(SurfaceWindow window) = 0;

  // Shows `text` modally with an OK button; returns once the user has acknowledged it.
  virtual void MessageBox(std::string_view text) = 0;

  // True once the host is closing: every yield of the control ends as soon as it sees it, so
  // that the host can stop in any state.
  virtual bool StopRequested() const { return false; }

  // A monotonic clock.
  virtual std::chrono::steady_clock::time_point Now() const = 0;
};

}  // namespace moviletta
