// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/fake_audio_output.h"

#include <algorithm>
#include <thread>

#include "moviletta/common/error.h"

namespace moviletta {

void FakeAudioOutput::Open(int sample_rate, int channels) {
  if (log_->missing) throw Error(err::kComponentFailed, "no sound device fake", "FakeAudioOutput");
  MutexLock lock(log_->mutex);
  log_->rate = sample_rate, log_->channels = channels;
  rate_ = sample_rate;
  speed_ = log_->speed;
  buffer_seconds_ = log_->buffer_seconds;
  opened_ = std::chrono::steady_clock::now();
}

int64_t FakeAudioOutput::Played() const {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - opened_).count();
  return std::min<int64_t>(written_, static_cast<int64_t>(seconds * speed_ * rate_));
}

void FakeAudioOutput::Write(const int16_t* samples, int frames) {
  while (written_ - Played() > static_cast<int64_t>(buffer_seconds_ * rate_))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  // Sound that comes after the device ran dry is heard from now on.
  const int64_t played = Played();
  if (played == written_)
    opened_ = std::chrono::steady_clock::now() -
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(static_cast<double>(written_) / rate_ / speed_));
  MutexLock lock(log_->mutex);
  log_->heard.insert(log_->heard.end(), samples,
                     samples + static_cast<std::ptrdiff_t>(frames) * std::max(log_->channels, 1));
  written_ += frames;
}

int64_t FakeAudioOutput::Delay() {
  return written_ - Played();
}

void FakeAudioOutput::Drain() {
  while (Delay() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

}  // namespace moviletta
