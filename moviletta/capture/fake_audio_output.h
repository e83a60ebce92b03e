// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "moviletta/capture/audio_output.h"
#include "moviletta/common/mutex.h"

namespace moviletta {

// A sound device that keeps what it is given in `heard` (shared with the test) and hears it at
// `speed` times real time, so that a test can run the sound clock slow or fast. Open fails with
// Error when `missing` is set. Its buffer holds `buffer_seconds` (like the real device, a fifth
// of a second unless a test wants more): Write waits while it is full.
class FakeAudioOutput : public AudioOutput {
 public:
  struct Log {
    // Set before a player opens the device.
    bool missing = false;
    double speed = 1.0;
    double buffer_seconds = 0.2;

    // What the device was given: its format and every sample. Any thread.
    std::vector<int16_t> Heard() EXCLUDES(mutex) {
      MutexLock lock(mutex);
      return heard;
    }
    Mutex mutex;
    std::vector<int16_t> heard GUARDED_BY(mutex);
    int rate GUARDED_BY(mutex) = 0;
    int channels GUARDED_BY(mutex) = 0;
  };

  explicit FakeAudioOutput(std::shared_ptr<Log> log) : log_(std::move(log)) {}

  static AudioOutputFactory Factory(std::shared_ptr<Log> log) {
    return [log] { return std::make_unique<FakeAudioOutput>(log); };
  }

  void Open(int sample_rate, int channels) override;
  void Write(const int16_t* samples, int frames) override;
  int64_t Delay() override;
  void Drain() override;
  void Close() override {}

 private:
  int64_t Played() const;

  std::shared_ptr<Log> log_;
  std::chrono::steady_clock::time_point opened_;
  int64_t written_ = 0;
  int rate_ = 1;
  double speed_ = 1.0;
  double buffer_seconds_ = 0.2;
};

}  // namespace moviletta
