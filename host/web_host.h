#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "host/event_stream.h"
#include "moviletta/control/control_site.h"
#include "moviletta/control/event_queue.h"
#include "moviletta/control/host.h"

namespace moviletta::web {

// The container of the control when a web page drives it: the host thread is the thread that
// runs ProcessPendingEvents (the studio's main loop); page calls arrive on the queue; what the
// control raises or shows goes to the page as events: StatusChanged and ErrMsgChanged carry
// {"ClientStatus", "ErrMsg", "SecondsLimit" (the recording limit), "VideoWidth", "VideoHeight"}.
// The property bag lives in a small JSON
// file, saved on every write. Host thread only, except queue(), Acknowledge and the stream.
class WebHost : public Host {
 public:
  // `bag_file` may be empty: no persistence.
  WebHost(EventStream& stream, std::string bag_file);

  EventQueue& queue() { return queue_; }
  // Asks the host to close: every yield of the control ends, calls still waiting are answered
  // "unavailable". Any thread.
  void RequestStop();
  bool StopRequested() const override { return stop_requested_; }
  // The page acknowledged message box `id`; false when no such box is open. Any thread.
  bool Acknowledge(uint64_t id);
  // How long a message box waits for its acknowledgement.
  std::chrono::milliseconds message_box_timeout{std::chrono::minutes(5)};
  // The site of the control this host holds: events carry its ClientStatus and ErrMsg, and a
  // property it marks as changed is saved at once. Must outlive the host's use.
  void Attach(ControlSite& site) { site_ = &site; }

  void ProcessPendingEvents(
      std::chrono::milliseconds max_wait = std::chrono::milliseconds(0)) override;
  Variant ReadProperty(std::string_view name, const Variant& default_value) override;
  void WriteProperty(std::string_view name, const Variant& value,
                     const Variant& default_value) override;
  void PropertyChanged(std::string_view name) override;
  bool UserMode() const override { return true; }
  void RaiseEvent(ControlEvent event) override;
  void BringToFront(SurfaceWindow window) override;
  void MessageBox(std::string_view text) override;
  std::chrono::steady_clock::time_point Now() const override;

 private:
  void Save() const;

  EventStream& stream_;
  ControlSite* site_ = nullptr;
  std::string bag_file_;
  std::map<std::string, Variant, std::less<>> bag_;
  EventQueue queue_;
  std::mutex boxes_mutex_;
  std::map<uint64_t, bool> open_boxes_;  // the boxes shown now: acknowledged or not
  std::atomic<uint64_t> next_box_{1};
  std::atomic<bool> stop_requested_{false};
};

}  // namespace moviletta::web
