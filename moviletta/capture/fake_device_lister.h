// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "moviletta/capture/device_lister.h"
#include "moviletta/common/mutex.h"

namespace moviletta {

// Devices a test sets and changes, as if plugged in and removed. Any thread.
class FakeDeviceLister : public DeviceLister {
 public:
  explicit FakeDeviceLister(DeviceList present = {}) : present_(std::move(present)) {}

  DeviceList List() override {
    MutexLock lock(mutex_);
    return present_;
  }
  void Set(DeviceList present) {
    MutexLock lock(mutex_);
    present_ = std::move(present);
  }

 private:
  Mutex mutex_;
  DeviceList present_ GUARDED_BY(mutex_);
};

}  // namespace moviletta
