// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "moviletta/capture/audio_output.h"

struct _snd_pcm;

namespace moviletta {

// Sound through ALSA (which also reaches PulseAudio and PipeWire), on the device named `device`
// ("default" unless a test points it elsewhere), with about 200 ms of buffer.
class AlsaAudioOutput : public AudioOutput {
 public:
  explicit AlsaAudioOutput(std::string device = "default");
  ~AlsaAudioOutput() override;

  void Open(int sample_rate, int channels) override;
  void Write(const int16_t* samples, int frames) override;
  int64_t Delay() override;
  void Drain() override;
  void Close() override;

 private:
  struct PcmCloser {
    void operator()(_snd_pcm* pcm) const;
  };

  std::string device_;
  std::unique_ptr<_snd_pcm, PcmCloser> pcm_;
  int channels_ = 1;
};

}  // namespace moviletta
