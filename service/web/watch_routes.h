// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

#include "service/store/greetings.h"
#include "service/store/store.h"

namespace httplib {
class Server;
}  // namespace httplib

namespace moviletta::service {

// The recipients' side: a greeting's watch page at an unguessable address, no sign-in.
//   GET  /watch/<token>              the page: the video, its poster, the sender, the message, the
//                                    date, a reply form and "Report this greeting"
//   GET  /watch/<token>/video.mp4    the video, with range requests
//   GET  /watch/<token>/poster.jpg
//   POST /watch/<token>/watched      the page saw it played 5 s or to its end (first time: the
//                                    sender is told by mail)
//   POST /watch/<token>/reply        text=...: kept and mailed to the sender
//   POST /watch/<token>/report       counted; at `hide_after` reports the greeting is hidden
//   GET/POST /watch/delete/<token>   the sender's delete link: asks, then deletes at once
//   GET  /watch/watch.js             the page's script
// A deleted greeting's page says "This greeting is no longer available." (410).
// Threads: the server's.
class WatchRoutes {
 public:
  WatchRoutes(Greetings& greetings, std::filesystem::path data, Clock clock, int hide_after = 3)
      : greetings_(greetings),
        data_(std::move(data)),
        clock_(std::move(clock)),
        hide_after_(hide_after) {}

  void Register(httplib::Server& server);

 private:
  Greetings& greetings_;
  const std::filesystem::path data_;
  const Clock clock_;
  const int hide_after_;
};

// Deletes the greeting's files and forgets its personal data. Any thread.
void DeleteGreeting(Greetings& greetings, const std::filesystem::path& data,
                    const Greeting& greeting, Time at);

}  // namespace moviletta::service
