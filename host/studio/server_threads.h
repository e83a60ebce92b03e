// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include <httplib.h>

#include "moviletta/common/mutex.h"

namespace moviletta::web {

// The web server's threads: a connection is served at once by an idle thread, else by a new
// one, up to `most` threads (then it waits for one to be free), so that a connection held by a
// slow peer never keeps another waiting. A thread, once started, stays until shutdown. `before`
// runs before each connection is handed on (the connection guard's look).
// Threads: enqueue on the server's listening thread; shutdown once, on any thread; each
// connection on one of these threads, named `kThreadName`.
class ServerThreads : public httplib::TaskQueue {
 public:
  // The name each of these threads carries (seen in /proc and by debuggers).
  static constexpr const char* kThreadName = "mv-serve";

  ServerThreads(std::size_t most, std::function<void()> before)
      : most_(most), before_(std::move(before)) {}
  ~ServerThreads() override { shutdown(); }

  void enqueue(std::function<void()> serve) override;
  // Serves the connections handed on already, then ends the threads.
  void shutdown() override;

 private:
  void Work();

  const std::size_t most_;
  std::function<void()> before_;
  Mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> waiting_ GUARDED_BY(mutex_);
  std::size_t idle_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_ GUARDED_BY(mutex_);
};

}  // namespace moviletta::web
