// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/capture_source.h"

#include <filesystem>

#include "moviletta/capture/device_source.h"
#include "moviletta/capture/synthetic_source.h"

namespace moviletta {
namespace {

// The synthetic pictures with a microphone's sound.
class TestPictureSource : public FrameSource {
 public:
  TestPictureSource(const DeviceInput& microphone, int sample_rate)
      : pictures_(sample_rate), sound_({}, microphone, sample_rate) {}
  void Video(int64_t index, int width, int height, uint8_t* rgba) override {
    pictures_.Video(index, width, height, rgba);
  }
  void Audio(int16_t* samples, int count) override { sound_.Audio(samples, count); }
  std::optional<Error> Failure() const override { return sound_.Failure(); }

 private:
  SyntheticSource pictures_;
  DeviceSource sound_;
};

}  // namespace

std::shared_ptr<FrameSource> OpenCaptureSource(CaptureOptions options, int32_t fps) {
  using Source = CaptureOptions::Source;
  if (options.camera.format == "video4linux2" && fps > 0)
    options.camera.options.try_emplace("framerate", std::to_string(fps));
  if (options.source == Source::kTestPicture)
    return std::make_shared<TestPictureSource>(options.microphone, options.sample_rate);
  std::error_code ec;
  const bool camera =
      options.source == Source::kCamera ||
      (options.source == Source::kAutomatic && std::filesystem::exists(options.camera.name, ec));
  if (camera)
    return std::make_shared<DeviceSource>(options.camera, options.microphone, options.sample_rate);
  return std::make_shared<SyntheticSource>(options.sample_rate);
}

}  // namespace moviletta
