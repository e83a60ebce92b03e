// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "moviletta/capture/frame_source.h"
#include "moviletta/common/mutex.h"

namespace moviletta {

// One device as libavdevice opens it: its input format ("video4linux2", "alsa", or any other
// FFmpeg input such as a FIFO read as "rawvideo" or "f32le"), its name and the format's options.
struct DeviceInput {
  std::string format;
  std::string name;
  std::map<std::string, std::string> options;
  std::string title;  // what a person calls it, for messages; the name when empty

  const std::string& Title() const { return title.empty() ? name : title; }
};

// A real camera and microphone, read through libavdevice.
//
// Sound is converted with libswresample from whatever the microphone delivers to mono 16-bit
// samples at the engine's rate, and is held to the picture: every sample is stamped with the time
// it was taken (its arrival, less the samples after it), and each frame slot gets the sound of its
// own period. Sound older than the slot (a microphone clock running fast, slots the engine dropped)
// is dropped; sound missing (a clock running slow) is silence before the slot's own sound.
//
// Threads: each device has a reader thread of its own (which catches everything it meets) that
// keeps the latest picture and buffers the sound; Video and Audio are called by the capture
// engine's thread. The destructor stops and joins the readers; a camera opened without blocking
// reads cannot hold them.
class DeviceSource : public FrameSource {
 public:
  // A camera without a name is none: the pictures stay black. Throws Error when the camera cannot
  // be opened ("The camera <title> is in use by another
  // program." when another program holds it). A microphone that cannot be opened records silence.
  DeviceSource(const DeviceInput& camera, const DeviceInput& microphone, int sample_rate);
  ~DeviceSource() override;

  // The latest camera picture, which the reader cuts to the proportions of the size asked for
  // last (its middle) and scales to that size; black until the first one of that size arrives.
  void Video(int64_t index, int width, int height, uint8_t* rgba) override;
  // The sound of the frame slot that ends now; silence where none has arrived.
  void Audio(int16_t* samples, int count) override;
  // Set when a reader stopped before the source was destroyed (a read error, or a device gone),
  // with a text for the person who was recording.
  std::optional<Error> Failure() const override;

  struct Input;  // one opened device

 private:
  using Clock = std::chrono::steady_clock;

  // Runs a reader's body on its thread; whatever ends it early becomes the source's failure.
  template <class Body>
  void Read(const std::string& ended, Body&& body);
  void ReadCamera();
  void ReadMicrophone();

  const int sample_rate_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<Input> camera_;
  std::unique_ptr<Input> microphone_;
  mutable Mutex mutex_;
  std::optional<Error> failure_ GUARDED_BY(mutex_);
  std::atomic<int> wanted_width_{0};
  std::atomic<int> wanted_height_{0};
  std::vector<uint8_t> latest_ GUARDED_BY(mutex_);  // RGBA
  int latest_width_ GUARDED_BY(mutex_) = 0;
  int latest_height_ GUARDED_BY(mutex_) = 0;
  std::deque<int16_t> sound_ GUARDED_BY(mutex_);
  // When the last buffered sample was taken, and the longest run of sound that arrived at once.
  Clock::time_point newest_sound_ GUARDED_BY(mutex_);
  Clock::duration longest_chunk_ GUARDED_BY(mutex_){};
  std::thread camera_thread_;
  std::thread microphone_thread_;
};

}  // namespace moviletta
