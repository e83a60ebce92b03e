// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <utility>

#include "moviletta/common/mutex.h"

namespace moviletta {

// A callback that one thread sets and others call: each call takes a copy under the lock and
// runs it without the lock, so the callback may set callbacks or call back into its owner.
// Calling an unset callback does nothing. Any thread.
template <class Signature>
class SharedCallback;

template <class... Args>
class SharedCallback<void(Args...)> {
 public:
  void Set(std::function<void(Args...)> callback) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    callback_ = std::move(callback);
  }
  // The callback as it is now, to call later.
  std::function<void(Args...)> Get() const EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return callback_;
  }
  void operator()(Args... args) const EXCLUDES(mutex_) {
    if (const std::function<void(Args...)> callback = Get()) callback(std::forward<Args>(args)...);
  }

 private:
  mutable Mutex mutex_;
  std::function<void(Args...)> callback_ GUARDED_BY(mutex_);
};

}  // namespace moviletta
