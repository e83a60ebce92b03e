#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "host/bridge.h"
#include "host/event_stream.h"
#include "host/web_host.h"
#include "moviletta/control/components.h"
#include "moviletta/control/control_site.h"

namespace moviletta::web {

// The page sessions of the studio. A session is the control made for the origin ("" for the
// studio's own page) whose page drives the studio: begun when a page of that origin claims it,
// ended when no page has driven it for `grace` (the page let go, or its event stream is gone) or
// when a page of another origin claims it. A session ends only once the mail it sends has
// settled; with no session there is no control, so the camera and the microphone are closed.
// What a session publishes goes to its origin's pages only.
// Threads: the host thread only (the bridge posts Begin, Idle and Restart to its queue).
class Sessions {
 public:
  // What a session of an origin is made of.
  struct Setup {
    Components components;  // the capture device opens with the control
    ControlConfig config;
    std::string bag_file;
    std::function<bool()> sending;  // whether a send is under way (its mail not yet settled)
  };
  using MakeSetup = std::function<Setup(const std::string& origin)>;

  // Everything passed in must outlive the sessions.
  Sessions(WebHost& host, ControlSite& site, EventStream& stream, Bridge& bridge,
           MakeSetup make_setup);
  ~Sessions() { End(); }

  // A page of `origin` drives the studio: its session runs from now on, made anew when the
  // session was another origin's (which ends first).
  void Begin(const std::string& origin);
  // No page drives the studio: the session ends once `grace` has passed, unless a page claims it.
  void Idle();
  // Makes the session's control anew: the page's Retry after a failed start-up.
  void Restart();
  // Ends a session whose grace is over; the host's loop calls it often.
  void Tick();
  // Ends the session, if any, once its mail has settled (events are processed meanwhile).
  void End();

  // The origin of the running session, or nothing.
  const std::optional<std::string>& origin() const { return origin_; }

  std::chrono::milliseconds grace{std::chrono::seconds(5)};

 private:
  void Start(const std::string& origin);

  WebHost& host_;
  ControlSite& site_;
  EventStream& stream_;
  Bridge& bridge_;
  MakeSetup make_setup_;
  std::optional<std::string> origin_;
  std::function<bool()> sending_;
  std::optional<std::chrono::steady_clock::time_point> idle_since_;
  bool ending_ = false;
  std::optional<std::string> after_end_;  // asked for while the last one was ending
};

}  // namespace moviletta::web
