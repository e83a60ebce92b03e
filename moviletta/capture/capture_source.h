// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>

#include <cstddef>
#include <functional>

#include "moviletta/capture/device_source.h"
#include "moviletta/capture/frame_source.h"

namespace moviletta {

// Where the capture engine takes its pictures and sound from.
struct CaptureOptions {
  enum class Source {
    kAutomatic,    // the camera when `camera` exists, else the synthetic source
    kCamera,       // the camera; a missing camera fails Connected
    kSynthetic,    // colour bars and a tone
    kTestPicture,  // colour bars and the microphone's sound
  };
  Source source = Source::kAutomatic;
  DeviceInput camera{"video4linux2", "/dev/video0", {}, ""};
  DeviceInput microphone{"alsa", "default", {}, ""};
  // The camera's size; pictures are taken and recorded at its middle in the proportions of the
  // capture size the control sets (1280 x 720 for 320 x 240: 960 x 720), never stretched. 0 x 0:
  // the capture size itself. Skins, snapshots and the frame listener keep the control's sizes: a
  // skin is scaled to the pictures.
  int record_width = 0;
  int record_height = 0;
  int sample_rate = 22050;
  // The overlays made ready for compositing are kept, for an animated skin's frames, up to this
  // many bytes beside their pictures.
  std::size_t overlay_bytes = std::size_t{32} << 20;
  // Opens the source these options name, asking a camera for `fps` pictures a second when it is
  // not 0; empty: the devices and the synthetic source. Called on the host thread; the engine
  // drops the source it holds before it opens another (a camera allows one open at a time).
  std::function<std::shared_ptr<FrameSource>(const CaptureOptions&, int32_t fps)> open_source =
      nullptr;
};

// The source `options` name, opened: the camera and the microphone (a camera asked for `fps`
// pictures a second when it is not 0), the test picture with the microphone's sound, or the
// synthetic pictures and tone; kAutomatic takes the camera when its device exists. Throws Error
// when a device cannot be opened. Any thread; the caller owns the source.
std::shared_ptr<FrameSource> OpenCaptureSource(CaptureOptions options, int32_t fps);

}  // namespace moviletta
