// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/studio/driving.h"
#include "host/studio/web_host.h"
#include "moviletta/control/control_site.h"

namespace moviletta::web {

// Runs a page's member calls on the host thread: a call of a page that does not drive (property
// reads excepted), or of another origin than the session's, is answered 409; a call waits for the
// calls and the yielding operation ahead of it, however long they take, and for the control's
// start-up; at most kWaitingCalls wait at once (the others: 503, so that the server's threads
// stay free for the message boxes' acknowledgements and the streams), and a waiting call gives up
// (503) when `giving_up()` says so. Calls are refused unless the control declares itself safe
// for scripting.
// Threads: Call on the server's threads; the member runs on the host thread.
class CallDispatcher {
 public:
  static constexpr int kWaitingCalls = 24;

  // What a call is answered: an HTTP status and, unless it is empty, a JSON body ({"value": ...}
  // or {"error": {"number", "description"}}).
  struct Answer {
    int status = 200;
    std::string body;
  };

  // Everything passed in must outlive it.
  CallDispatcher(WebHost& host, ControlSite& site, Driving& driving,
                 std::function<bool()> giving_up)
      : host_(host), site_(site), driving_(driving), giving_up_(std::move(giving_up)) {}

  // Member `member` called as `kind` by page `page` ("" a script) of `caller`, with the JSON
  // array of arguments `arguments`.
  Answer Call(const std::string& caller, const std::string& page, const std::string& member,
              MemberKind kind, std::string_view arguments);

 private:
  // Runs the call on the host thread once start-up has ended and waits for its outcome; nothing
  // when it gives up first.
  std::optional<CallOutcome> OnHostThread(const std::string& caller, const std::string& member,
                                          MemberKind kind, std::vector<Variant> args);

  WebHost& host_;
  ControlSite& site_;
  Driving& driving_;
  std::function<bool()> giving_up_;
  std::atomic<int> waiting_{0};
};

}  // namespace moviletta::web
