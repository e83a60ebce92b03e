// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/system_device_lister.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace moviletta {
namespace {

struct CloseFd {
  void operator()(const int* fd) const {
    ::close(*fd);
    delete fd;
  }
};

int Ask(int fd, unsigned long request, void* argument) {
  int result = 0;
  do result = ::ioctl(fd, request, argument);
  while (result < 0 && errno == EINTR);
  return result;
}

std::vector<std::pair<int, int>> FrameSizes(int fd) {
  std::vector<std::pair<int, int>> sizes;
  v4l2_fmtdesc format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (; Ask(fd, VIDIOC_ENUM_FMT, &format) == 0; ++format.index) {
    v4l2_frmsizeenum size{};
    size.pixel_format = format.pixelformat;
    for (; Ask(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
      if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        sizes.emplace_back(size.discrete.width, size.discrete.height);
      } else {  // a range: its largest size stands for it
        sizes.emplace_back(size.stepwise.max_width, size.stepwise.max_height);
        break;
      }
    }
  }
  std::sort(sizes.begin(), sizes.end(), [](const auto& a, const auto& b) {
    return std::pair(int64_t{a.first} * a.second, a.first) >
           std::pair(int64_t{b.first} * b.second, b.first);
  });
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  return sizes;
}

std::vector<CameraInfo> Cameras(const std::string& folder) {
  std::vector<CameraInfo> cameras;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename();
    if (!name.starts_with("video")) continue;
    const int opened = ::open(entry.path().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) continue;
    const std::unique_ptr<int, CloseFd> fd(new int(opened));
    v4l2_capability capability{};
    if (Ask(*fd, VIDIOC_QUERYCAP, &capability) != 0) continue;
    const uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS)
                              ? capability.device_caps
                              : capability.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) continue;  // metadata and output nodes
    cameras.push_back(
        {entry.path().string(), reinterpret_cast<const char*>(capability.card), FrameSizes(*fd)});
  }
  std::sort(cameras.begin(), cameras.end(),
            [](const auto& a, const auto& b) { return a.device < b.device; });
  return cameras;
}

std::vector<MicrophoneInfo> Microphones() {
  std::vector<MicrophoneInfo> microphones;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) return microphones;
  const std::unique_ptr<void*, int (*)(void**)> owned(hints, snd_device_name_free_hint);
  const auto text = [](void* hint, const char* id) {
    const std::unique_ptr<char, void (*)(void*)> value(snd_device_name_get_hint(hint, id),
                                                       std::free);
    return value ? std::string(value.get()) : std::string();
  };
  for (void** hint = hints; *hint; ++hint) {
    const std::string name = text(*hint, "NAME"), io = text(*hint, "IOID");
    if (name.empty() || name == "null" || (!io.empty() && io != "Input")) continue;
    std::string description;
    for (const char c : text(*hint, "DESC")) description += c == '\n' ? ", " : std::string(1, c);
    microphones.push_back({name, description.empty() ? name : description});
  }
  return microphones;
}

}  // namespace

std::vector<int64_t> SystemDeviceLister::Changes() const {
  std::vector<std::string> paths{dev_folder_, dev_folder_ + "/snd", "/etc/asound.conf"};
  if (const char* home = std::getenv("HOME")) paths.push_back(std::string(home) + "/.asoundrc");
  std::vector<int64_t> changes;
  for (const std::string& path : paths) {
    struct stat status {};
    changes.push_back(::stat(path.c_str(), &status) == 0
                          ? int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec
                          : -1);
  }
  return changes;
}

DeviceList SystemDeviceLister::List() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<int64_t> changes = Changes();
  if (!listed_ || changes != listed_changes_) settled_ = now + std::chrono::seconds(3);
  if (!listed_ || now < settled_) {
    listed_ = DeviceList{Cameras(dev_folder_), Microphones()};
    listed_changes_ = std::move(changes);
  }
  return *listed_;
}

}  // namespace moviletta
