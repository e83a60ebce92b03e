#include "moviletta/capture/ffmpeg_player.h"

#include <chrono>

#include "moviletta/capture/ffmpeg_handles.h"

namespace moviletta {
namespace {
constexpr const char* kSource = "Moviletta.Player";
}

struct FfmpegPlayer::Media {
  ffmpeg::InputContext input;
  ffmpeg::CodecContext decoder;
  int stream = -1;
};

FfmpegPlayer::FfmpegPlayer() = default;

FfmpegPlayer::~FfmpegPlayer() {
  CloseFile();
}

void FfmpegPlayer::SetFrameListener(std::function<void(const BitmapHandle&)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void FfmpegPlayer::OnPlayerChangeState(std::function<void(int32_t)> change_state) {
  std::lock_guard lock(mutex_);
  change_state_ = std::move(change_state);
}

void FfmpegPlayer::OpenFile(const std::string& path) {
  ffmpeg::QuietLogs();
  CloseFile();
  auto media = std::make_unique<Media>();
  AVFormatContext* raw = nullptr;
  const int opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (opened < 0)
    throw Error(err::kFileNotFound, "cannot open " + path + ": " + ffmpeg::ErrorText(opened),
                kSource);
  media->input.reset(raw);
  ffmpeg::Check(avformat_find_stream_info(raw, nullptr), "cannot read " + path, kSource);
  media->stream = ffmpeg::Check(av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0),
                                "no pictures in " + path, kSource);
  media->decoder = ffmpeg::OpenDecoder(raw->streams[media->stream], path, kSource);
  std::lock_guard lock(mutex_);
  media_ = std::move(media);
}

void FfmpegPlayer::Play() {
  StopPlayback();
  std::lock_guard lock(mutex_);
  if (!media_) throw Error(err::kComponentFailed, "no file is open", kSource);
  av_seek_frame(media_->input.get(), media_->stream, 0, AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(media_->decoder.get());
  stop_ = false;
  playback_ = std::thread([this, media = media_.get()] { Run(*media); });
}

void FfmpegPlayer::Run(Media& media) {
  try {
    Show(media);
  } catch (...) {  // a decoding or listener failure ends the playback like its end
  }
  std::function<void(int32_t)> tell;
  {
    std::lock_guard lock(mutex_);
    tell = change_state_;
  }
  try {
    if (tell) tell(0);
  } catch (...) {  // the host could not take the news; playback has ended all the same
  }
}

void FfmpegPlayer::Show(Media& media) {
  using Clock = std::chrono::steady_clock;
  const AVStream* stream = media.input->streams[media.stream];
  const AVRational time_base = stream->time_base;
  const int64_t first = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  const Clock::time_point start = Clock::now();
  ffmpeg::Packet packet = ffmpeg::NewPacket();
  ffmpeg::Frame frame = ffmpeg::NewFrame();
  ffmpeg::ScaleContext scale;
  const auto show = [&] {
    int width = frame->width, height = frame->height;
    std::function<void(const BitmapHandle&)> listener;
    {
      std::lock_guard lock(mutex_);
      if (display_width_ > 0 && display_height_ > 0)
        width = display_width_, height = display_height_;
      listener = listener_;
    }
    const double seconds = frame->best_effort_timestamp == AV_NOPTS_VALUE
                               ? 0
                               : (frame->best_effort_timestamp - first) * av_q2d(time_base);
    {
      std::unique_lock lock(mutex_);
      stopped_.wait_until(lock,
                          start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds)),
                          [&] { return stop_.load(); });
    }
    if (stop_) return;
    scale.reset(sws_getCachedContext(scale.release(), frame->width, frame->height,
                                     static_cast<AVPixelFormat>(frame->format), width, height,
                                     AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scale) return;
    Bitmap picture{width, height,
                   std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    uint8_t* rows = picture.rgba.data();
    const int stride = width * 4;
    sws_scale(scale.get(), frame->data, frame->linesize, 0, frame->height, &rows, &stride);
    if (listener) listener(std::make_shared<const Bitmap>(std::move(picture)));
  };
  const auto drain = [&] {
    while (!stop_ && avcodec_receive_frame(media.decoder.get(), frame.get()) >= 0) show();
  };
  while (!stop_ && av_read_frame(media.input.get(), packet.get()) >= 0) {
    if (packet->stream_index == media.stream &&
        avcodec_send_packet(media.decoder.get(), packet.get()) >= 0)
      drain();
    av_packet_unref(packet.get());
  }
  if (!stop_ && avcodec_send_packet(media.decoder.get(), nullptr) >= 0) drain();
}

void FfmpegPlayer::StopPlayback() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  if (playback_.joinable()) playback_.join();
}

void FfmpegPlayer::CloseFile() {
  StopPlayback();
  std::lock_guard lock(mutex_);
  media_.reset();
}

void FfmpegPlayer::SetDisplaySize(int32_t& width, int32_t& height) {
  std::lock_guard lock(mutex_);
  display_width_ = width, display_height_ = height;
}

}  // namespace moviletta
