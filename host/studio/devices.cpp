// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/devices.h"

#include <algorithm>
#include <fstream>
#include <iostream>

#include "moviletta/common/constants.h"
#include "moviletta/common/file_write.h"
#include "moviletta/common/proportion.h"
#include "moviletta/common/start_thread.h"

namespace moviletta::web {
namespace {

using nlohmann::json;

constexpr const char* kSource = "Moviletta.Devices";

const CameraInfo kTestPictureInfo{
    Devices::kTestPicture, "Test picture", {{1280, 720}, {640, 480}, {320, 240}}};

std::optional<std::pair<int, int>> SizeOf(const json& value) {
  if (value.is_array() && value.size() == 2 && value[0].is_number_integer() &&
      value[1].is_number_integer())
    return std::pair(value[0].get<int>(), value[1].get<int>());
  return std::nullopt;
}

json SizeJson(const std::optional<std::pair<int, int>>& size) {
  return size ? json{size->first, size->second} : json();
}

std::string TextOf(const json& choice, const char* key) {
  const json value = choice.value(key, json());
  if (value.is_null()) return "";
  if (!value.is_string())
    throw Error(err::kInvalidArgument, std::string(key) + " is no text", kSource);
  return value.get<std::string>();
}

// The largest of `sizes` within the largest recording; nothing when none is.
std::optional<std::pair<int, int>> Largest(const std::vector<std::pair<int, int>>& sizes) {
  for (const auto& size : sizes)  // largest first
    if (size.first <= Devices::kLargestRecording.first &&
        size.second <= Devices::kLargestRecording.second)
      return size;
  return std::nullopt;
}

}  // namespace

Devices::Devices(DeviceLister& lister, std::string file, EventStream& stream,
                 std::chrono::milliseconds period)
    : lister_(lister), file_(std::move(file)), stream_(stream) {
  Choice kept;
  std::ifstream in(file_);
  const json stored = in ? json::parse(in, nullptr, /*allow_exceptions=*/false) : json();
  if (stored.is_object()) {
    kept.camera = stored.value("camera", "");
    kept.size = SizeOf(stored.value("size", json()));
    kept.microphone = stored.value("microphone", "");
  }
  DeviceList present = lister_.List();
  {
    MutexLock lock(mutex_);
    choice_ = std::move(kept);
    present_ = std::move(present);
  }
  watch_ = StartThread([this, period] { Watch(period); }, "the device watch", kSource);
}

Devices::~Devices() {
  {
    MutexLock lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  watch_.join();
}

void Devices::Watch(std::chrono::milliseconds period) {
  MutexLock lock(mutex_);
  while (!stop_) {
    lock.WaitUntil(stopped_, std::chrono::steady_clock::now() + period);
    if (stop_) return;
    lock.Unlock();
    std::optional<DeviceList> present;
    try {
      present = lister_.List();
    } catch (const std::exception& e) {
      std::cerr << "the devices could not be listed: " << e.what() << "\n";
    }
    lock.Lock();
    if (!present || *present == present_) continue;
    present_ = std::move(*present);
    ++generation_;
    stream_.PublishTo(EventStream::kEveryPage, "devices", DescribeLocked());
  }
}

std::vector<CameraInfo> Devices::CamerasLocked() const {
  std::vector<CameraInfo> cameras = present_.cameras;
  if (cameras.empty()) cameras.push_back(kTestPictureInfo);
  return cameras;
}

json Devices::Describe() const {
  MutexLock lock(mutex_);
  return DescribeLocked();
}

json Devices::DescribeLocked() const {
  json cameras = json::array(), microphones = json::array();
  for (const CameraInfo& camera : CamerasLocked()) {
    json sizes = json::array();
    for (const auto& [width, height] : camera.sizes) sizes.push_back({width, height});
    cameras.push_back({{"device", camera.device}, {"name", camera.name}, {"sizes", sizes}});
  }
  for (const MicrophoneInfo& microphone : present_.microphones)
    microphones.push_back({{"device", microphone.device}, {"description", microphone.description}});
  json picture;
  if (const CaptureOptions applied = ApplyLocked(CaptureOptions{}); applied.record_width > 0) {
    const PictureCrop recorded =
        CentredCrop(applied.record_width, applied.record_height, kCaptureWidth, kCaptureHeight);
    picture = {{"camera", {applied.record_width, applied.record_height}},
               {"recorded", {recorded.width, recorded.height}}};
  }
  return {{"cameras", cameras},
          {"microphones", microphones},
          {"camera", choice_.camera},
          {"size", SizeJson(choice_.size)},
          {"microphone", choice_.microphone},
          {"picture", picture}};
}

void Devices::Choose(const json& choice) {
  if (!choice.is_object()) throw Error(err::kInvalidArgument, "no choice of devices", kSource);
  Choice chosen{TextOf(choice, "camera"), SizeOf(choice.value("size", json())),
                TextOf(choice, "microphone")};
  if (!choice.value("size", json()).is_null() && !chosen.size)
    throw Error(err::kInvalidArgument, "a size is [width, height]", kSource);
  MutexLock lock(mutex_);
  if (!chosen.camera.empty()) {
    const std::vector<CameraInfo> cameras = CamerasLocked();
    const auto camera = std::ranges::find(cameras, chosen.camera, &CameraInfo::device);
    // The test picture is one of these only where no camera is.
    if (camera == cameras.end())
      throw Error(err::kInvalidArgument, "There is no camera " + chosen.camera + ".", kSource);
    if (chosen.size && std::ranges::find(camera->sizes, *chosen.size) == camera->sizes.end())
      throw Error(err::kInvalidArgument, "The camera does not offer that size.", kSource);
  } else if (chosen.size) {
    throw Error(err::kInvalidArgument, "A size goes with a camera.", kSource);
  }
  if (!chosen.microphone.empty() &&
      std::ranges::find(present_.microphones, chosen.microphone, &MicrophoneInfo::device) ==
          present_.microphones.end())
    throw Error(err::kInvalidArgument, "There is no microphone " + chosen.microphone + ".",
                kSource);
  const json stored = {{"camera", chosen.camera},
                       {"size", SizeJson(chosen.size)},
                       {"microphone", chosen.microphone}};
  WriteFileWhole(file_, stored.dump(), kSource, /*sync_to_disk=*/false, /*owner_only=*/true);
  choice_ = std::move(chosen);
  ++generation_;
}

CaptureOptions Devices::Apply(CaptureOptions base) const {
  MutexLock lock(mutex_);
  return ApplyLocked(std::move(base));
}

CaptureOptions Devices::ApplyLocked(CaptureOptions base) const {
  using Source = CaptureOptions::Source;
  const auto camera = std::ranges::find(present_.cameras, choice_.camera, &CameraInfo::device);
  if (camera != present_.cameras.end()) {
    base.source = Source::kCamera;
    base.camera = {"video4linux2", camera->device, {}, camera->name};
  } else if (present_.cameras.empty() && base.source != Source::kCamera) {
    base.source = Source::kSynthetic;
  }
  const auto microphone =
      std::ranges::find(present_.microphones, choice_.microphone, &MicrophoneInfo::device);
  if (microphone != present_.microphones.end())
    base.microphone = {"alsa", microphone->device, {}, microphone->description};
  if (base.source == Source::kSynthetic) {
    if (choice_.camera == kTestPicture && choice_.size)
      std::tie(base.record_width, base.record_height) = *choice_.size;
    if (microphone != present_.microphones.end()) base.source = Source::kTestPicture;
  } else if (const auto shown =
                 std::ranges::find(present_.cameras, base.camera.name, &CameraInfo::device);
             shown != present_.cameras.end()) {
    base.camera.title = shown->name;
    const std::optional<std::pair<int, int>> size =
        shown->device == choice_.camera && choice_.size ? choice_.size : Largest(shown->sizes);
    if (size) {
      std::tie(base.record_width, base.record_height) = *size;
      base.camera.options["video_size"] =
          std::to_string(size->first) + "x" + std::to_string(size->second);
    }
  }
  return base;
}

uint64_t Devices::generation() const {
  MutexLock lock(mutex_);
  return generation_;
}

}  // namespace moviletta::web
