// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace moviletta {

// A camera of this machine: its device file, the name it gives itself and the picture sizes it
// offers (width, height), largest first.
struct CameraInfo {
  std::string device;
  std::string name;
  std::vector<std::pair<int, int>> sizes;
  bool operator==(const CameraInfo&) const = default;
};

// A microphone: the name the sound system opens it by and its description for a person.
struct MicrophoneInfo {
  std::string device;
  std::string description;
  bool operator==(const MicrophoneInfo&) const = default;
};

struct DeviceList {
  std::vector<CameraInfo> cameras;
  std::vector<MicrophoneInfo> microphones;
  bool operator==(const DeviceList&) const = default;
};

// Lists the cameras and microphones present now. Any one thread at a time; List may take a few
// milliseconds (it opens every device to ask it).
class DeviceLister {
 public:
  virtual ~DeviceLister() = default;
  virtual DeviceList List() = 0;
};

}  // namespace moviletta
