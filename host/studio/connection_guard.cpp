// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/connection_guard.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <optional>

#include "host/access/port_connections.h"

namespace moviletta::web {
namespace {

// Shuts down this process's connections of the sockets `inodes`, each only if its descriptor is
// still that socket (a socket closed meanwhile may have given its number to another).
void ShutDown(const std::set<uint64_t>& inodes) {
  if (inodes.empty()) return;
  for (const auto& [inode, fd] : SocketsOf(inodes)) {
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode) && status.st_ino == inode)
      ::shutdown(fd, SHUT_RDWR);
  }
}

}  // namespace

void ConnectionGuard::Start(int port) {
  port_ = port;
  // Looks again every quarter of a second while a request is awaited, and rests otherwise: a new
  // connection is looked at when it comes.
  watch_ = std::thread([this] {
    MutexLock lock(mutex_);
    while (!stopping_) {
      if (!Awaiting() && !woken_) {
        lock.Wait(wake_);
        continue;
      }
      woken_ = false;
      lock.WaitUntil(wake_, std::chrono::steady_clock::now() + std::chrono::milliseconds(250));
      lock.Unlock();
      try {
        Look();
      } catch (const std::exception& e) {
        std::cerr << "moviletta-studio: the connections could not be looked at: " << e.what()
                  << "\n";
      }
      lock.Lock();
    }
  });
}

void ConnectionGuard::Stop() {
  if (!watch_.joinable()) return;
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  watch_.join();
}

void ConnectionGuard::Look() {
  const std::vector<PortConnection> connections = PortConnections(port_);
  const auto now = std::chrono::steady_clock::now();
  std::map<uint64_t, Watched> watched;
  std::map<int, uint64_t> by_port;
  std::set<uint64_t> unwanted;
  {
    MutexLock lock(mutex_);
    for (const PortConnection& connection : connections) {
      if (connection.peer_uid != self_) {
        unwanted.insert(connection.inode);
        continue;
      }
      const auto known = watched_.find(connection.inode);
      Watched watch = known != watched_.end() ? known->second : Watched{now + header_time_};
      if (arrived_unseen_.erase(connection.peer_port) > 0) watch.arrived = true;
      if (!watch.arrived && now >= watch.deadline) {
        unwanted.insert(connection.inode);
        watch.arrived = true;  // shut down once
      }
      watched.emplace(connection.inode, watch);
      by_port.emplace(connection.peer_port, connection.inode);
    }
    watched_.swap(watched);  // connections that ended are forgotten
    by_port_.swap(by_port);
    std::erase_if(arrived_unseen_,
                  [&](const auto& arrival) { return now - arrival.second > header_time_; });
  }
  wake_.notify_all();  // the watch looks again while a request is awaited
  ShutDown(unwanted);
}

bool ConnectionGuard::Awaiting() {
  for (const auto& [inode, watch] : watched_)
    if (!watch.arrived) return true;
  return false;
}

bool ConnectionGuard::Admit(int peer_port) {
  std::optional<PortConnection> found;
  for (const PortConnection& connection : PortConnections(port_))
    if (connection.peer_port == peer_port) found = connection;
  if (found && found->peer_uid != self_) {
    ShutDown({found->inode});
    return false;
  }
  MutexLock lock(mutex_);
  if (const auto inode = by_port_.find(peer_port); inode != by_port_.end())
    watched_[inode->second].arrived = true;
  else
    arrived_unseen_.emplace(peer_port, std::chrono::steady_clock::now());
  return true;
}

void ConnectionGuard::Wake() {
  {
    MutexLock lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

}  // namespace moviletta::web
