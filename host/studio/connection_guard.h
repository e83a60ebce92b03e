// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <set>
#include <thread>

#include "moviletta/common/mutex.h"

namespace moviletta::web {

// Watches the connections to the studio's port (host/access/port_connections.h) so that no one
// else holds its threads: a connection from another user's process is shut down unanswered (the
// ports are shared by every account of the computer, and nothing of another account's may reach
// the visitor's studio), and a connection whose request has not arrived within `header_time`
// (headers dripping in, or none) is shut down then, so that the thread that reads it is free
// again. The connections are looked at from a thread of its own, never on the server's
// listening thread, which would take the next connections in more slowly.
// Threads: Wake on the server's listening thread when a connection comes, Admit on the server's
// threads, and a watch thread of its own between Start and Stop, which alone looks.
class ConnectionGuard {
 public:
  explicit ConnectionGuard(std::chrono::milliseconds header_time = std::chrono::seconds(3))
      : header_time_(header_time) {}
  ~ConnectionGuard() { Stop(); }
  ConnectionGuard(const ConnectionGuard&) = delete;
  ConnectionGuard& operator=(const ConnectionGuard&) = delete;

  // Watches the connections to `port`, looking again every quarter of a second while a
  // connection's request is awaited.
  void Start(int port);
  void Stop();
  // A new connection came: the watch looks at the connections within a quarter of a second.
  void Wake();
  // The request of the connection from `peer_port` has arrived (its headers are read): false when
  // that connection is another user's, which is then shut down unanswered.
  bool Admit(int peer_port);

 private:
  struct Watched {
    std::chrono::steady_clock::time_point deadline;
    bool arrived = false;
  };

  // Looks at the connections now, on the watch thread: new ones are watched from now on;
  // others' and late ones are shut down.
  void Look();
  // Whether a watched connection's request has not arrived yet.
  bool Awaiting() REQUIRES(mutex_);

  const std::chrono::milliseconds header_time_;
  const uid_t self_ = geteuid();
  int port_ = 0;
  Mutex mutex_;
  std::map<uint64_t, Watched> watched_ GUARDED_BY(mutex_);  // by the inode of our socket
  std::map<int, uint64_t> by_port_ GUARDED_BY(mutex_);      // peer port: inode
  // Requests of connections not yet looked at, by peer port, with when they arrived: kept until a
  // look finds their connection (one that began after the look's list was read is found by the
  // next), or for `header_time_`.
  std::map<int, std::chrono::steady_clock::time_point> arrived_unseen_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool woken_ GUARDED_BY(mutex_) = false;
  std::condition_variable wake_;
  std::thread watch_;
};

}  // namespace moviletta::web
