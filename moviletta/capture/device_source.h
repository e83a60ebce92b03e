#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "moviletta/capture/frame_source.h"

namespace moviletta {

// A real camera (video4linux2) and microphone (ALSA), read through libavdevice.
//
// Threads: each device has a reader thread of its own (which catches everything it meets) that
// keeps the latest picture and buffers the sound; Video and Audio are called by the capture
// engine's thread. The destructor stops and joins the readers.
class DeviceSource : public FrameSource {
 public:
  // Throws Error when the camera cannot be opened. A microphone that cannot be opened records
  // silence.
  DeviceSource(const std::string& camera, const std::string& microphone, int sample_rate);
  ~DeviceSource() override;

  // The latest camera picture, which the reader scales to the size asked for last; black until
  // the first one of that size arrives.
  void Video(int64_t index, int width, int height, uint8_t* rgba) override;
  // The buffered sound; silence where none has arrived.
  void Audio(int16_t* samples, int count) override;
  // Set when a reader stopped before the source was destroyed: a read error, or a device gone.
  std::optional<Error> Failure() const override;

  struct Input;  // one opened device

 private:
  // Runs a reader's body on its thread; whatever ends it early becomes the source's failure.
  template <class Body>
  void Read(const std::string& device, Body&& body);
  void ReadCamera();
  void ReadMicrophone();

  std::atomic<bool> stop_{false};
  std::unique_ptr<Input> camera_;
  std::unique_ptr<Input> microphone_;
  mutable std::mutex mutex_;
  std::optional<Error> failure_;
  std::atomic<int> wanted_width_{0};
  std::atomic<int> wanted_height_{0};
  std::vector<uint8_t> latest_;  // RGBA
  int latest_width_ = 0;
  int latest_height_ = 0;
  std::deque<int16_t> sound_;
  std::thread camera_thread_;
  std::thread microphone_thread_;
};

}  // namespace moviletta
