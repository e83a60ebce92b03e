// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "host/studio/event_stream.h"
#include "moviletta/common/mutex.h"
#include "moviletta/control/event_queue.h"
#include "moviletta/control/host.h"
#include "moviletta/control/module_state.h"

namespace moviletta::web {

// The container of the control when a web page drives it: the host thread is the thread that
// runs ProcessPendingEvents (the studio's main loop); page calls arrive on the queue; what the
// control raises or shows goes to the page as events: StatusChanged and ErrMsgChanged carry
// {"ClientStatus", "ErrMsg", "SecondsLimit" (the recording limit), "VideoWidth", "VideoHeight"};
// "skin" {"on", "id"} tells, each time the control stores its skin path, whether a skin is on and
// which (null for none; a placeholder's id while a skin downloads).
// The property bag lives in a small JSON file, saved on every write; the control's changed
// properties are saved at the host's next turn (OnPropertyChanges). Host thread only, except
// queue(), Acknowledge and the stream.
class WebHost : public Host {
 public:
  // `bag_file` may be empty: no persistence. `module` holds the values the events carry besides
  // the control's state; it must outlive the host.
  WebHost(EventStream& stream, std::string bag_file, const ModuleState& module);

  EventQueue& queue() { return queue_; }
  // The property bag is `bag_file` from now on (read at once; empty: none kept).
  void UseBag(std::string bag_file);
  // Asks the host to close: every yield of the control ends, calls still waiting are answered
  // "unavailable". Any thread.
  void RequestStop();
  // Whether the host closes. Any thread.
  bool Closing() const { return stop_requested_; }
  // While on, the control's yields end as when the host closes (StopRequested), so that its
  // session can end at the top of the host's loop. Any thread.
  void SetUnwinding(bool on);
  bool StopRequested() const override { return stop_requested_ || unwinding_; }
  // The page acknowledged message box `id`; false when no such box is open. Any thread.
  bool Acknowledge(uint64_t id);
  // How long a message box waits for its acknowledgement.
  std::chrono::milliseconds message_box_timeout{std::chrono::minutes(5)};
  // Runs `save` on the host thread, from the queue, after the control marks a property as
  // changed: once for the changes made before it runs.
  void OnPropertyChanges(std::function<void()> save) { save_ = std::move(save); }

  void ProcessPendingEvents(
      std::chrono::milliseconds max_wait = std::chrono::milliseconds(0)) override;
  Variant ReadProperty(std::string_view name, const Variant& default_value) override;
  void WriteProperty(std::string_view name, const Variant& value,
                     const Variant& default_value) override;
  void PropertyChanged(std::string_view name) override;
  bool UserMode() const override { return true; }
  void RaiseEvent(ControlEvent event, const EventSnapshot& now) override;
  // The status the control told last (STATUS_STARTING before it told one). Any thread.
  int32_t LastStatus() const { return last_status_; }
  void BringToFront(SurfaceWindow window) override;
  void MessageBox(std::string_view text) override;
  std::chrono::steady_clock::time_point Now() const override;

 private:
  void Save() const;
  // The size the greeting is mailed at, [width, height]: the settings' for MPEG; null when it is
  // the recording's own (WMV).
  nlohmann::json SentSize() const;

  EventStream& stream_;
  const ModuleState& module_;
  std::function<void()> save_;
  bool save_pending_ = false;
  std::string bag_file_;
  std::map<std::string, Variant, std::less<>> bag_;
  EventQueue queue_;
  Mutex boxes_mutex_;
  std::map<uint64_t, bool> open_boxes_
      GUARDED_BY(boxes_mutex_);  // the boxes shown now: acknowledged or not
  std::atomic<uint64_t> next_box_{1};
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> unwinding_{false};
  std::atomic<int32_t> last_status_{STATUS_STARTING};
};

}  // namespace moviletta::web
