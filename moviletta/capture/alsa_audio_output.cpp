// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/alsa_audio_output.h"

#include <alsa/asoundlib.h>

#include "moviletta/common/error.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.AudioOutput";
constexpr unsigned kLatencyMicroseconds = 200000;

[[noreturn]] void Fail(const std::string& what, int code) {
  throw Error(err::kComponentFailed, what + ": " + snd_strerror(code), kSource);
}

}  // namespace

void AlsaAudioOutput::PcmCloser::operator()(snd_pcm_t* pcm) const {
  snd_pcm_close(pcm);
}

AlsaAudioOutput::AlsaAudioOutput(std::string device) : device_(std::move(device)) {}

AlsaAudioOutput::~AlsaAudioOutput() = default;

void AlsaAudioOutput::Open(int sample_rate, int channels) {
  Close();
  snd_pcm_t* pcm = nullptr;
  if (const int code = snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_PLAYBACK, 0); code < 0)
    Fail("no sound device " + device_, code);
  pcm_.reset(pcm);
  if (const int code =
          snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                             static_cast<unsigned>(channels), static_cast<unsigned>(sample_rate), 1,
                             kLatencyMicroseconds);
      code < 0) {
    pcm_.reset();
    Fail("the sound device takes no " + std::to_string(sample_rate) + " Hz", code);
  }
  channels_ = channels;
}

void AlsaAudioOutput::Write(const int16_t* samples, int frames) {
  if (!pcm_) throw Error(err::kComponentFailed, "no sound device is open", kSource);
  while (frames > 0) {
    snd_pcm_sframes_t written =
        snd_pcm_writei(pcm_.get(), samples, static_cast<snd_pcm_uframes_t>(frames));
    if (written < 0) written = snd_pcm_recover(pcm_.get(), static_cast<int>(written), 1);
    if (written < 0) Fail("the sound device failed", static_cast<int>(written));
    samples += written * channels_;
    frames -= static_cast<int>(written);
  }
}

int64_t AlsaAudioOutput::Delay() {
  snd_pcm_sframes_t delay = 0;
  if (!pcm_ || snd_pcm_delay(pcm_.get(), &delay) < 0 || delay < 0) return 0;
  return delay;
}

void AlsaAudioOutput::Drain() {
  if (pcm_) snd_pcm_drain(pcm_.get());
  pcm_.reset();
}

void AlsaAudioOutput::Close() {
  if (pcm_) snd_pcm_drop(pcm_.get());
  pcm_.reset();
}

}  // namespace moviletta
