#pragma once

#include <string>

#include "moviletta/capture/device_lister.h"

namespace moviletta {

// The devices as the system knows them: the V4L2 video capture devices in `dev_folder` (their
// card names and discrete frame sizes, asked with the V4L2 ioctls) and ALSA's capture PCMs
// (its name hints: those of the sound cards and those the user's configuration, `.asoundrc`
// included, describes with a hint). Devices that cannot be asked are left out.
class SystemDeviceLister : public DeviceLister {
 public:
  explicit SystemDeviceLister(std::string dev_folder = "/dev")
      : dev_folder_(std::move(dev_folder)) {}
  DeviceList List() override;

 private:
  std::string dev_folder_;
};

}  // namespace moviletta
