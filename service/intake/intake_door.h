// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>

#include "service/intake/intake.h"

namespace moviletta::service {

// A node's door for mails: a listener on 127.0.0.1 where `moviletta-deliver` hands over the mails
// its mail server gives it, so that each mail is taken in by a running node (its libraries loaded,
// its database connection open) instead of a program started for it. A mail is POSTed to
// /mail?recipient=R&site=S with the door's token in kDoorTokenHeader; the answer is 200 with
// "<exit status> <reason>" (as `deliver` would end), 403 for a wrong token (before the mail is
// read). The door's file (see Door) is in place while it is open.
//
// Threads: Open and Close on any one thread; mails are taken on the listener's threads, each with
// an Intake of its own over `greetings`, which serialises its calls.
class IntakeDoor {
 public:
  IntakeDoor(Greetings& greetings, std::string data, Clock clock, IntakeLimits limits = {});
  ~IntakeDoor();
  IntakeDoor(const IntakeDoor&) = delete;
  IntakeDoor& operator=(const IntakeDoor&) = delete;

  // Listens on a free loopback port and puts the door's file in place; the files of this host's
  // nodes that are gone are taken away. Throws moviletta::Error when it cannot.
  void Open();
  // Takes the door's file away (new mails go to another node or are taken in by
  // `moviletta-deliver` itself), lets the mails under way end and stops listening. Again: nothing.
  void Close();
  // The port, 0 until it is open.
  int port() const { return port_; }

 private:
  void Take(const httplib::Request& req, httplib::Response& res);

  Greetings& greetings_;
  const std::string data_;
  const Clock clock_;
  const IntakeLimits limits_;
  httplib::Server server_;
  std::thread listener_;
  std::atomic<bool> listening_ended_{false};
  std::string token_, file_;
  int port_ = 0;
};

}  // namespace moviletta::service
