// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "host/access/site_consent.h"
#include "host/studio/event_stream.h"
#include "host/studio/web_host.h"
#include "moviletta/common/mutex.h"

namespace moviletta::web {

// What event "driver" names as the driving page to the pages of other origins.
constexpr const char* kAnotherPage = "another";

// Who drives the studio: the page that claimed it last (with its origin), and, with page
// sessions, the origin whose session is asked for or running and whether it is starting up.
// One page drives at a time; a page of another origin than the session's asks for its own
// session by claiming, which the host thread carries out (`begin`). The driving page's id goes
// to its own origin's pages only (event "driver").
// Threads: any; `begin`, `idle` and `unattended` are posted to the host's queue.
class Driving {
 public:
  // `stream` and `host` must outlive it.
  Driving(WebHost& host, EventStream& stream) : host_(host), stream_(stream) {}

  // Page sessions (see Bridge::OnSessions); without them every page calls the one control.
  void OnSessions(std::function<void(const std::string&)> begin, std::function<void()> idle,
                  std::function<void(const std::string&)> unattended);
  bool sessions() const { return static_cast<bool>(begin_); }
  // The allowed sites, whose pages are told who drives too. Must outlive it.
  void TellSitesOf(const SiteConsent* consent) { consent_ = consent; }

  // Page `page` of `caller` drives from now on; false (nothing changes) when another page drives
  // and `takeover` is not asked. Asks for the caller's session.
  bool Claim(const std::string& page, const std::string& caller, bool takeover);
  // Page `page` of `caller` no longer drives, if it did: the session is idle.
  void Release(const std::string& page, const std::string& caller);
  // Whether `page` may call members: the driving page, or a caller that names no page.
  bool Drives(const std::string& page);
  bool DrivenByAPage();
  // Whether `page` of `caller` drives the session (a caller without a page: of the driving
  // page's origin, or while none drives; with no session, the studio's own page), for what only
  // it may do: acknowledge a box, choose the devices.
  bool DrivesSession(const std::string& page, const std::string& caller);
  // A script's call of `caller` ended while no page drives: tells the session.
  void CalledUnattended(const std::string& caller);

  // Whether `caller` may call the control now: its session runs (or starts), else none runs and
  // `may_begin` (then it is asked for). Always true without sessions.
  bool SessionOf(const std::string& caller, bool may_begin);
  // Whether the control that exists now is `caller`'s (always, without sessions).
  bool RunsFor(const std::string& caller);
  // Whether calls wait for a start-up.
  bool starting_up() const { return starting_up_; }
  // The control of `origin` starts up, or has started (failed or not).
  void StartupBegins(const std::string& origin);
  void StartupEnded() { starting_up_ = false; }
  // The session of `origin` ended, or was asked for and will never begin: calls no longer wait
  // for it.
  void SessionEnded(const std::string& origin);
  // The running session of `origin` goes on after another was asked for: calls waiting run.
  void SessionGoesOn(const std::string& origin);

 private:
  void BeginSession(const std::string& caller) REQUIRES(mutex_);
  void TellDriver() REQUIRES(mutex_);

  WebHost& host_;
  EventStream& stream_;
  const SiteConsent* consent_ = nullptr;
  std::function<void(const std::string&)> begin_;
  std::function<void()> idle_;
  std::function<void(const std::string&)> unattended_;
  std::atomic<bool> starting_up_{false};
  Mutex mutex_;
  std::string driver_ GUARDED_BY(mutex_);         // the page that drives the control, or empty
  std::string driver_origin_ GUARDED_BY(mutex_);  // its origin
  // The origin of the session asked for or running, with sessions.
  std::optional<std::string> session_ GUARDED_BY(mutex_);
  // The origin whose session's control exists now (set on the host thread).
  std::optional<std::string> running_ GUARDED_BY(mutex_);
};

}  // namespace moviletta::web
