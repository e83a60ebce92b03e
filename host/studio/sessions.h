// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/studio/bridge.h"
#include "host/studio/event_stream.h"
#include "host/studio/web_host.h"
#include "moviletta/control/components.h"
#include "moviletta/control/control_site.h"

namespace moviletta::web {

// The page sessions of the studio. A session is the control made for the origin ("" for the
// studio's own page) whose page drives the studio: begun when a page of that origin claims it,
// ended when no page has driven it for `grace` (the page let go, or its event stream is gone) or
// when a page of another origin claims it. What a session publishes goes to its origin's pages
// only. With no session there is no control, so the camera and the microphone are closed.
// Each session starts from a new control's module values (settings empty and 0, no video size),
// so that nothing a site's settings document lacks is taken from the session before it; only
// its origin's take (the recording's name and its trim) is carried from that origin's session
// before, so that a take-over and back keeps what the page shows.
//
// A control is made and destroyed only at the top of the host's loop (Tick), never inside one of
// its own yields: a session that must end asks the control's yields to unwind (the host's
// StopRequested; not while it sends), and lets the mail of a send under way settle first.
// Threads: the host thread only (the bridge posts Begin, Idle and Restart to its queue).
class Sessions {
 public:
  // What a session of an origin is made of.
  struct Setup {
    Components components;  // the capture device opens with the control
    ControlConfig config;
    std::string bag_file;
    std::function<bool()> sending;  // whether a send's mail is not yet settled
  };
  using MakeSetup = std::function<Setup(const std::string& origin)>;

  // Everything passed in must outlive the sessions.
  Sessions(WebHost& host, ControlSite& site, ModuleState& module, EventStream& stream,
           Bridge& bridge, MakeSetup make_setup);
  ~Sessions() { End(); }

  // A page of `origin` drives the studio: its session runs from the next Tick, made anew when the
  // running session is another origin's (which ends first).
  void Begin(const std::string& origin);
  // No page drives the studio: the session ends once `grace` has passed, unless a page claims it.
  void Idle();
  // A script of `origin` called without a page while no page drives: the session (if it is that
  // origin's) ends `unattended_grace` after the last such call, unless a page claims it.
  void Unattended(const std::string& origin);
  // Makes the session's control anew at the next Tick: the page's Retry after a failed start-up.
  void Restart();
  // Runs `forget` at the next Tick, once the session of `origin` (if it runs) has ended.
  void Forget(const std::string& origin, std::function<void()> forget);
  // Carries out what was asked; the host's loop calls it often, at its top.
  void Tick();
  // Ends the session, if any, once its mail has settled (events are processed meanwhile). At the
  // top of the host's loop only.
  void End();

  // The origin of the running session, or nothing.
  const std::optional<std::string>& origin() const { return origin_; }

  std::chrono::milliseconds grace{std::chrono::seconds(5)};
  std::chrono::milliseconds unattended_grace{std::chrono::seconds(30)};

 private:
  void Start(const std::string& origin);
  // Whether the control is in a send that must not be cut short (compressing or handing its
  // mail over).
  bool Sending();

  WebHost& host_;
  ControlSite& site_;
  ModuleState& module_;  // the site's controls' module values: the running session's
  EventStream& stream_;
  Bridge& bridge_;
  MakeSetup make_setup_;
  std::optional<std::string> origin_;
  // Each origin's take as its last session left it.
  struct Take {
    std::string extension;
    double trim_start = 0, trim_end = 0;
  };
  std::map<std::string, Take> takes_;
  std::function<bool()> sending_;
  std::optional<std::string> wanted_;  // the origin whose session a page asked for
  bool restart_ = false;
  std::vector<std::pair<std::string, std::function<void()>>> forget_;
  std::optional<std::chrono::steady_clock::time_point> idle_since_;
  bool unattended_ = false;  // the idle time runs from a script's last call
};

}  // namespace moviletta::web
