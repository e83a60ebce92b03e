// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/fake_capture_device.h"

#include <fstream>
#include <thread>

#include "moviletta/common/error.h"

namespace moviletta {
void FakeCaptureDevice::Record(std::string call) {
  const std::string name = call.substr(0, call.find_first_of("=("));
  if (!fail_on.empty() && name == fail_on)
    throw Error(err::kComponentFailed, name + " failed", "FakeCaptureDevice");
  calls.push_back(std::move(call));
}

void FakeCaptureDevice::RaiseCaptureEnd(std::optional<Error> failure) {
  capturing = false;
  if (capture_end_) std::thread(capture_end_, std::move(failure)).join();
}

BitmapHandle FakeCaptureDevice::GrabFrame() {
  Record("GrabFrame");
  return frame;
}

int32_t FakeCaptureDevice::SavePictureAsJpeg(const BitmapHandle& picture, const std::string& path,
                                             int32_t quality) {
  Record("SavePictureAsJpeg(" + path + "," + std::to_string(quality) + ")");
  std::ofstream(path, std::ios::binary) << "JPEG of " << (picture ? picture->width : 0);
  return 0;
}

void FakeCaptureDevice::StartCapture() {
  Record("StartCapture");
  capturing = true;
  std::ofstream(capture_file_, std::ios::binary) << "RIFF recording";
}

void FakeCaptureDevice::StopCapture() {
  Record("StopCapture");
  capturing = false;
}

void FakeCaptureDevice::PauseCapture(bool paused) {
  Record(paused ? "PauseCapture" : "ResumeCapture");
}

bool FakeCaptureDevice::IsCapturing() {
  Record("IsCapturing");
  return capturing;
}

void FakeCaptureDevice::OverlayBitmap(BitmapHandle bitmap, int32_t x, int32_t y,
                                      int32_t transparent) {
  Record("OverlayBitmap(" + std::to_string(x) + "," + std::to_string(y) + "," +
         std::to_string(transparent) + ")");
  overlaid.push_back(std::move(bitmap));
}

void FakeCaptureDevice::SetDisplaySize(int32_t width, int32_t height) {
  Record("SetDisplaySize(" + std::to_string(width) + "," + std::to_string(height) + ")");
  display_width = width, display_height = height;
}

}  // namespace moviletta
