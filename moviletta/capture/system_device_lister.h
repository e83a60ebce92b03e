// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "moviletta/capture/device_lister.h"

namespace moviletta {

// The devices as the system knows them: the V4L2 video capture devices in `dev_folder` (their
// card names and discrete frame sizes, asked with the V4L2 ioctls) and ALSA's capture PCMs
// (its name hints: those of the sound cards and those the user's configuration, `.asoundrc`
// included, describes with a hint). Devices that cannot be asked are left out. The devices are
// asked again only when the device folders or the sound configuration files have changed, and
// for a few seconds after (a new device node gets its permissions a moment after it appears).
class SystemDeviceLister : public DeviceLister {
 public:
  explicit SystemDeviceLister(std::string dev_folder = "/dev")
      : dev_folder_(std::move(dev_folder)) {}
  DeviceList List() override;

 private:
  // When the device folders and the sound configuration files last changed.
  std::vector<int64_t> Changes() const;

  std::string dev_folder_;
  std::vector<int64_t> listed_changes_;
  std::optional<DeviceList> listed_;
  std::chrono::steady_clock::time_point settled_;
};

}  // namespace moviletta
