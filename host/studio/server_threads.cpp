// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/server_threads.h"

#include <iostream>

#include <pthread.h>

namespace moviletta::web {

void ServerThreads::enqueue(std::function<void()> serve) {
  try {
    if (before_) before_();
  } catch (...) {  // a look that failed: the connection is served as it is
  }
  MutexLock lock(mutex_);
  waiting_.push_back(std::move(serve));
  if (idle_ < waiting_.size() && threads_.size() < most_) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error& e) {  // no thread to be had: an existing one serves it
      std::cerr << "moviletta-studio: cannot start a server thread: " << e.what() << "\n";
    }
  }
  wake_.notify_one();
}

void ServerThreads::shutdown() {
  std::vector<std::thread> threads;
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (std::thread& thread : threads) thread.join();
}

void ServerThreads::Work() {
  pthread_setname_np(pthread_self(), kThreadName);
  for (;;) {
    std::function<void()> serve;
    {
      MutexLock lock(mutex_);
      ++idle_;
      while (waiting_.empty() && !stopping_) lock.Wait(wake_);
      --idle_;
      if (waiting_.empty()) return;  // stopping, nothing left to serve
      serve = std::move(waiting_.front());
      waiting_.pop_front();
    }
    try {
      serve();
    } catch (const std::exception& e) {
      std::cerr << "moviletta-studio: a connection failed: " << e.what() << "\n";
    } catch (...) {
      std::cerr << "moviletta-studio: a connection failed\n";
    }
  }
}

}  // namespace moviletta::web
