// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "moviletta/common/thread_annotations.h"

namespace moviletta {

// A std::mutex that clang's thread-safety analysis knows as a capability.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds `mutex` for its scope, and waits on condition variables with it. Waits take no
// predicate: the caller loops on its condition, so that the analysis sees the lock held while
// the condition reads guarded data.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // Releases the mutex early, or takes it again.
  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }

  // Releases the mutex while waiting for `wake` (or a spurious wake-up) and holds it again after.
  void Wait(std::condition_variable& wake) { wake.wait(lock_); }
  template <class Clock, class Duration>
  std::cv_status WaitUntil(std::condition_variable& wake,
                           std::chrono::time_point<Clock, Duration> deadline) {
    return wake.wait_until(lock_, deadline);
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace moviletta
