// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "moviletta/common/thread_annotations.h"

namespace moviletta {

// Debug builds: checks that an object is used from one thread only, the first one that uses it
// (after construction, or after Detach). Release builds: does nothing. To clang's thread-safety
// analysis it is the owning thread: state only that thread touches is GUARDED_BY the checker, and
// Check asserts that its caller is on it.
class CAPABILITY("thread") ThreadChecker {
 public:
  // Aborts with a message naming `member` when called from another thread than the owner.
  void Check([[maybe_unused]] const char* member) const ASSERT_CAPABILITY(this) {
#ifndef NDEBUG
    std::thread::id expected{};
    const std::thread::id self = std::this_thread::get_id();
    if (owner_.compare_exchange_strong(expected, self) || expected == self) return;
    std::fprintf(stderr, "%s called off the thread that owns the object\n", member);
    std::abort();
#endif
  }
  // The next Check binds the object to its caller's thread: for an object made on one thread
  // and then handed to another for good.
  void Detach() {
    owner_ = std::thread::id{};
  }

 private:
  mutable std::atomic<std::thread::id> owner_{};
};

}  // namespace moviletta
