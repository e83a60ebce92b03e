// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace moviletta {

// A sound device for playback, fed 16-bit interleaved samples. One thread uses an output at a
// time (the player's thread).
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;

  // Takes the device for `sample_rate` and `channels`. Throws Error when there is none to take.
  virtual void Open(int sample_rate, int channels) = 0;
  // Queues `frames` frames of `channels` samples each; blocks while the device's buffer is full.
  // Throws Error when the device fails.
  virtual void Write(const int16_t* samples, int frames) = 0;
  // Frames written and not yet heard.
  virtual int64_t Delay() = 0;
  // Lets what is queued be heard, then releases the device (Drain) or releases it at once (Close).
  virtual void Drain() = 0;
  virtual void Close() = 0;
};

using AudioOutputFactory = std::function<std::unique_ptr<AudioOutput>()>;

}  // namespace moviletta
