// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/ffmpeg_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

#include "moviletta/common/start_thread.h"
#include "moviletta/ffmpeg/frame_picture.h"
#include "moviletta/ffmpeg/handles.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.Player";
constexpr double kSeekLead = 0.5;
// Pictures and samples this close to the part's edge belong to it (times are rounded in files).
constexpr double kEdge = 1e-3;
using Clock = std::chrono::steady_clock;

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

// A recording's sound on its way to an output, as 16-bit samples at its own rate (mono or
// stereo), and the clock it gives: how much of it has been heard.
class SoundTrack {
 public:
  SoundTrack(std::unique_ptr<AudioOutput> output, const AVCodecContext& decoder)
      : output_(std::move(output)),
        rate_(decoder.sample_rate),
        channels_(std::clamp(decoder.ch_layout.nb_channels, 1, 2)) {
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels_);
    ::SwrContext* raw = nullptr;
    ffmpeg::Check(swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_S16, rate_,
                                      const_cast<AVChannelLayout*>(&decoder.ch_layout),
                                      decoder.sample_fmt, decoder.sample_rate, 0, nullptr),
                  "cannot convert the sound", kSource);
    resample_.reset(raw);
    ffmpeg::Check(swr_init(raw), "cannot convert the sound", kSource);
    output_->Open(rate_, channels_);
  }

  int rate() const { return rate_; }

  // Plays the frame's samples from `skip` on, at most `count` of them (the output keeps the
  // frame's rate, so its samples are the frame's one for one).
  void Play(const AVFrame& frame, int skip, int count) {
    const int room = swr_get_out_samples(resample_.get(), frame.nb_samples);
    if (room <= 0) return;
    buffer_.resize(static_cast<std::size_t>(room) * channels_);
    auto* out = reinterpret_cast<uint8_t*>(buffer_.data());
    const int converted =
        swr_convert(resample_.get(), &out, room, const_cast<const uint8_t**>(frame.extended_data),
                    frame.nb_samples);
    const int end = std::min(converted, skip + count);
    if (end <= skip) return;
    output_->Write(buffer_.data() + static_cast<std::size_t>(skip) * channels_, end - skip);
    written_ += end - skip;
  }

  // Seconds of the sound heard so far; nothing when nothing written is still to be heard.
  std::optional<double> Heard() {
    const int64_t queued = output_->Delay();
    if (queued <= 0) return std::nullopt;
    return static_cast<double>(written_ - queued) / rate_;
  }

  void Finish(bool heard_to_the_end) {
    if (heard_to_the_end)
      output_->Drain();
    else
      output_->Close();
  }

 private:
  std::unique_ptr<AudioOutput> output_;
  int rate_;
  int channels_;
  ffmpeg::SwrContext resample_;
  std::vector<int16_t> buffer_;
  int64_t written_ = 0;
};

struct FfmpegPlayer::Media {
  ffmpeg::InputContext input;
  ffmpeg::CodecContext decoder;
  int stream = -1;
  ffmpeg::CodecContext sound_decoder;  // none without sound
  int sound_stream = -1;
};

FfmpegPlayer::FfmpegPlayer(AudioOutputFactory audio) : audio_(std::move(audio)) {}

void FfmpegPlayer::OnSoundUnavailable(std::function<void(const std::string&)> unavailable) {
  sound_unavailable_.Set(std::move(unavailable));
}

FfmpegPlayer::~FfmpegPlayer() {
  CloseFile();
}

void FfmpegPlayer::SetFrameListener(std::function<void(const BitmapHandle&)> listener) {
  listener_.Set(std::move(listener));
}

void FfmpegPlayer::OnPlayerChangeState(std::function<void(int32_t)> change_state) {
  change_state_.Set(std::move(change_state));
}

void FfmpegPlayer::OpenFile(const std::string& path) {
  CloseFile();
  auto media = std::make_unique<Media>();
  media->input = ffmpeg::OpenInput(path, kSource);
  AVFormatContext* raw = media->input.get();
  media->stream = ffmpeg::Check(av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0),
                                "no pictures in " + path, kSource);
  media->decoder = ffmpeg::OpenDecoder(raw->streams[media->stream], path, kSource);
  if (const int sound = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
      sound >= 0 && audio_) {
    media->sound_stream = sound;
    media->sound_decoder = ffmpeg::OpenDecoder(raw->streams[sound], path, kSource);
  }
  MutexLock lock(mutex_);
  media_ = std::move(media);
  play_from_ = play_to_ = 0;
}

void FfmpegPlayer::SetPlayRange(double start, double end) {
  MutexLock lock(mutex_);
  play_from_ = std::max(start, 0.0), play_to_ = end > play_from_ ? end : 0;
}

void FfmpegPlayer::Play() {
  StopPlayback();
  MutexLock lock(mutex_);
  if (!media_) throw Error(err::kComponentFailed, "no file is open", kSource);
  const AVStream* stream = media_->input->streams[media_->stream];
  const int64_t first = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  // Somewhat before the start, so that sound stored ahead of its pictures is found too.
  const double seek = std::max(play_from_ - kSeekLead, 0.0);
  av_seek_frame(media_->input.get(), media_->stream,
                first + static_cast<int64_t>(seek / av_q2d(stream->time_base)),
                AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(media_->decoder.get());
  if (media_->sound_decoder) avcodec_flush_buffers(media_->sound_decoder.get());
  stop_ = false;
  playback_ = StartThread(
      [this, media = media_.get(), from = play_from_, to = play_to_] { Run(*media, from, to); },
      "the playback", kSource);
}

void FfmpegPlayer::Run(Media& media, double from, double to) {
  try {
    Show(media, from, to);
  } catch (...) {  // a decoding or listener failure ends the playback like its end
  }
  try {
    change_state_(0);
  } catch (...) {  // the host could not take the news; playback has ended all the same
  }
}

std::unique_ptr<SoundTrack> FfmpegPlayer::OpenSound(Media& media) {
  if (!media.sound_decoder) return nullptr;
  try {
    return std::make_unique<SoundTrack>(audio_(), *media.sound_decoder);
  } catch (const Error& e) {
    bool tell = false;
    {
      MutexLock lock(mutex_);
      tell = !std::exchange(told_unavailable_, true);
    }
    if (tell) sound_unavailable_(e.description());
    return nullptr;
  }
}

void FfmpegPlayer::Show(Media& media, double from, double to) {
  const AVStream* stream = media.input->streams[media.stream];
  const AVRational time_base = stream->time_base;
  const double first =
      stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time * av_q2d(time_base);
  const std::unique_ptr<SoundTrack> sound = OpenSound(media);
  // When the part's start was heard (or would have been): the sound clock moves it while sound
  // is queued; without sound, or once all of it was heard, the pictures keep their pace.
  Clock::time_point zero = Clock::now();
  bool pictures_done = false;
  bool sound_done = !sound;
  double sound_at = 0;  // where the next sound frame starts when it carries no time
  ffmpeg::Packet packet = ffmpeg::NewPacket();
  ffmpeg::Frame sound_frame = ffmpeg::NewFrame();
  ffmpeg::Frame frame = ffmpeg::NewFrame();
  ffmpeg::ScaleContext scale;
  const auto show = [&] {
    const double seconds = frame->best_effort_timestamp == AV_NOPTS_VALUE
                               ? 0
                               : frame->best_effort_timestamp * av_q2d(time_base) - first;
    if (seconds < from - kEdge) return;
    if (to > 0 && seconds >= to - kEdge) {
      pictures_done = true;
      return;
    }
    int width = frame->width, height = frame->height;
    {
      MutexLock lock(mutex_);
      if (display_width_ > 0 && display_height_ > 0)
        width = display_width_, height = display_height_;
      for (;;) {
        if (const std::optional<double> heard = sound ? sound->Heard() : std::nullopt)
          zero = Clock::now() - Seconds(*heard);
        const Clock::time_point due = zero + Seconds(seconds - from);
        if (stop_ || Clock::now() >= due) break;
        lock.WaitUntil(stopped_, std::min(due, Clock::now() + std::chrono::milliseconds(5)));
      }
    }
    if (stop_) return;
    // A window of another shape shows the whole picture between bars, as the recording is.
    std::optional<Bitmap> picture = ffmpeg::FramePicture(*frame, width, height, scale);
    if (picture) listener_(std::make_shared<const Bitmap>(std::move(*picture)));
  };
  const AVRational sound_base =
      sound ? media.input->streams[media.sound_stream]->time_base : AVRational{1, 1};
  const auto hear_frame = [&] {
    const double rate = sound->rate();
    const double at = sound_frame->best_effort_timestamp == AV_NOPTS_VALUE
                          ? sound_at
                          : sound_frame->best_effort_timestamp * av_q2d(sound_base) - first;
    sound_at = at + sound_frame->nb_samples / rate;
    if (to > 0 && at >= to - kEdge) {
      sound_done = true;
      return;
    }
    const int skip = std::max(0, static_cast<int>(std::lround((from - at) * rate)));
    const int count =
        to > 0 ? static_cast<int>(std::lround((to - at) * rate)) - skip : sound_frame->nb_samples;
    sound->Play(*sound_frame, skip, count);
  };
  const auto drain = [&] {
    while (!stop_ && avcodec_receive_frame(media.decoder.get(), frame.get()) >= 0) show();
  };
  const auto hear = [&] {
    while (!stop_ && avcodec_receive_frame(media.sound_decoder.get(), sound_frame.get()) >= 0)
      hear_frame();
  };
  while (!stop_ && !(pictures_done && sound_done) &&
         av_read_frame(media.input.get(), packet.get()) >= 0) {
    if (packet->stream_index == media.stream && !pictures_done &&
        avcodec_send_packet(media.decoder.get(), packet.get()) >= 0)
      drain();
    else if (sound && !sound_done && packet->stream_index == media.sound_stream &&
             avcodec_send_packet(media.sound_decoder.get(), packet.get()) >= 0)
      hear();
    av_packet_unref(packet.get());
  }
  if (!stop_ && !pictures_done && avcodec_send_packet(media.decoder.get(), nullptr) >= 0) drain();
  if (!stop_ && !sound_done && avcodec_send_packet(media.sound_decoder.get(), nullptr) >= 0) hear();
  if (sound) sound->Finish(!stop_);
}

void FfmpegPlayer::StopPlayback() {
  {
    MutexLock lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  if (playback_.joinable()) playback_.join();
}

void FfmpegPlayer::CloseFile() {
  StopPlayback();
  MutexLock lock(mutex_);
  media_.reset();
}

void FfmpegPlayer::SetDisplaySize(int32_t width, int32_t height) {
  MutexLock lock(mutex_);
  display_width_ = width, display_height_ = height;
}

}  // namespace moviletta
