// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "host/studio/event_stream.h"
#include "moviletta/capture/device_lister.h"
#include "moviletta/capture/ffmpeg_capture_device.h"
#include "moviletta/common/mutex.h"

namespace moviletta::web {

// The visitor's cameras and microphones: what `lister` finds, the visitor's choice of them (kept
// in `file`, 0600, for the next time) and a watch that tells every page (event "devices", as
// Describe) within `period` of a device plugged in or removed. The synthetic picture is listed
// as the camera "Test picture" (device "synthetic") where no camera exists.
//
// A camera records at the size chosen for it, else the largest it offers up to 1280 x 720; the
// test picture at the size chosen for it, else the control's. A device chosen but not present
// now (unplugged) leaves the studio's own setting in its place until it returns.
//
// Threads: any; the watch runs on a thread of its own, which catches everything it meets.
class Devices {
 public:
  static constexpr const char* kTestPicture = "synthetic";
  static constexpr std::pair<int, int> kLargestRecording{1280, 720};

  // `lister` must outlive the object.
  Devices(DeviceLister& lister, std::string file, EventStream& stream,
          std::chrono::milliseconds period = std::chrono::milliseconds(500));
  ~Devices();

  // {"cameras": [{"device", "name", "sizes": [[w, h], ...]}], "microphones": [{"device",
  // "description"}], "camera", "size" ([w, h] or null), "microphone", "picture"}: "" chooses the
  // studio's own setting. "picture" is {"camera": [w, h], "recorded": [w, h]}, the size the
  // camera is read at and the part of it recorded in the greeting's shape, or null when the
  // pictures are made at the greeting's own size.
  nlohmann::json Describe() const;
  // Keeps the choice {"camera", "size", "microphone"} (each may be left out: ""/null). Throws
  // Error 5 for a device that is not listed or a size its camera does not offer, changing
  // nothing; Error 75 when it cannot be kept.
  void Choose(const nlohmann::json& choice);
  // `base` (the studio's setting) with the chosen devices present now and the size to record at.
  CaptureOptions Apply(CaptureOptions base) const;
  // Grows with every change of the choice or of the devices present.
  uint64_t generation() const;

 private:
  struct Choice {
    std::string camera;
    std::optional<std::pair<int, int>> size;
    std::string microphone;
  };
  nlohmann::json DescribeLocked() const REQUIRES(mutex_);
  CaptureOptions ApplyLocked(CaptureOptions base) const REQUIRES(mutex_);
  std::vector<CameraInfo> CamerasLocked() const REQUIRES(mutex_);
  void Watch(std::chrono::milliseconds period);

  DeviceLister& lister_;
  const std::string file_;
  EventStream& stream_;
  mutable Mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ GUARDED_BY(mutex_) = false;
  DeviceList present_ GUARDED_BY(mutex_);
  Choice choice_ GUARDED_BY(mutex_);
  uint64_t generation_ GUARDED_BY(mutex_) = 0;
  std::thread watch_;
};

}  // namespace moviletta::web
