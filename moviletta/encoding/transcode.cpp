#include "moviletta/encoding/transcode.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "moviletta/common/constants.h"
#include "moviletta/common/file_write.h"
#include "moviletta/encoding/video_editor.h"
#include "moviletta/ffmpeg/encoder.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSource = "Moviletta.VideoEditor";
constexpr int kWmvAudioBitRate = 48000;
constexpr int kMpegAudioBitRate = 64000;

struct AudioFifoDeleter {
  void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifo = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

bool IsMpeg1FrameRate(int fps) {
  return fps == 24 || fps == 25 || fps == 30 || fps == 50 || fps == 60;
}

class Transcoder {
 public:
  Transcoder(const TranscodeJob& job, const std::atomic<bool>& cancel,
             const std::function<void(double, double)>& progress)
      : job_(job), cancel_(cancel), progress_(progress) {}

  void Run(const std::string& temporary) {
    OpenInput();
    OpenOutput(temporary);
    ffmpeg::Packet packet = ffmpeg::NewPacket();
    int read = 0;
    while ((read = av_read_frame(input_.get(), packet.get())) >= 0) {
      if (cancel_) throw Error(err::kComponentFailed, "the compression was cancelled", kSource);
      if (packet->stream_index == video_index_) Decode(*video_decoder_, packet.get(), true);
      if (packet->stream_index == audio_index_ && audio_decoder_)
        Decode(*audio_decoder_, packet.get(), false);
      av_packet_unref(packet.get());
    }
    if (read != AVERROR_EOF) ffmpeg::Check(read, "cannot read the recording", kSource);
    Decode(*video_decoder_, nullptr, true);
    if (audio_decoder_) Decode(*audio_decoder_, nullptr, false);
    if (audio_encoder_) {
      if (resample_) Resample(nullptr, 0);
      DrainSound(true);
    }
    Encode(*video_encoder_, video_stream_, nullptr);
    if (audio_encoder_) Encode(*audio_encoder_, audio_stream_, nullptr);
    ffmpeg::Check(av_write_trailer(output_.get()), "cannot finish the output", kSource);
    const int closed = avio_closep(&output_->pb);
    ffmpeg::Check(closed, "cannot write the output", kSource);
    progress_(job_.end - job_.start, job_.end - job_.start);
  }

 private:
  void OpenInput() {
    AVFormatContext* raw = nullptr;
    const int opened = avformat_open_input(&raw, job_.input.c_str(), nullptr, nullptr);
    if (opened < 0)
      throw Error(err::kFileNotFound,
                  "cannot open " + job_.input + ": " + ffmpeg::ErrorText(opened), kSource);
    input_.reset(raw);
    ffmpeg::Check(avformat_find_stream_info(raw, nullptr), "cannot read " + job_.input, kSource);
    video_index_ = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video_index_ < 0)
      throw Error(err::kComponentFailed, "no pictures in " + job_.input, kSource);
    video_decoder_ = ffmpeg::OpenDecoder(raw->streams[video_index_], job_.input, kSource, 1);
    audio_index_ = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio_index_ >= 0)
      audio_decoder_ = ffmpeg::OpenDecoder(raw->streams[audio_index_], job_.input, kSource, 1);
  }

  void OpenOutput(const std::string& temporary) {
    const bool mpeg = job_.format == kOutputFormatMpeg;
    const AVCodecContext& in = *video_decoder_;
    fps_ = job_.fps > 0 ? job_.fps
                        : static_cast<int>(std::clamp<long>(
                              std::lround(av_q2d(input_->streams[video_index_]->avg_frame_rate)), 1,
                              kMaxFrameRate));
    width_ = (mpeg && job_.width > 0 ? job_.width : in.width) & ~1;
    height_ = (mpeg && job_.height > 0 ? job_.height : in.height) & ~1;
    if (width_ <= 0 || height_ <= 0 || width_ > 4095 || height_ > 4095)
      throw Error(err::kInvalidArgument,
                  "output size " + std::to_string(width_) + " x " + std::to_string(height_),
                  kSource);
    const bool mpeg1 = IsMpeg1FrameRate(fps_);
    const char* muxer = !mpeg ? "asf" : mpeg1 ? "mpeg" : "vob";
    AVFormatContext* raw = nullptr;
    ffmpeg::Check(avformat_alloc_output_context2(&raw, nullptr, muxer, temporary.c_str()),
                  "cannot create the output", kSource);
    output_.reset(raw);

    const AVCodecID video_codec = !mpeg   ? AV_CODEC_ID_WMV2
                                  : mpeg1 ? AV_CODEC_ID_MPEG1VIDEO
                                          : AV_CODEC_ID_MPEG2VIDEO;
    video_encoder_ = ffmpeg::OpenEncoder(
        video_codec, *raw,
        [&](AVCodecContext& c, const AVCodec&) {
          c.width = width_, c.height = height_;
          c.time_base = {1, fps_};
          c.framerate = {fps_, 1};
          c.pix_fmt = AV_PIX_FMT_YUV420P;
          c.bit_rate = VideoBitRate(width_, height_, fps_);
          c.gop_size = fps_;
          if (mpeg) c.rc_buffer_size = static_cast<int>(c.bit_rate);  // a second of video
          if (mpeg) c.rc_max_rate = c.bit_rate * 2;
        },
        kSource);
    video_stream_ = ffmpeg::AddStream(*output_, *video_encoder_, kSource);
    picture_ = ffmpeg::NewFrame();
    picture_->format = AV_PIX_FMT_YUV420P;
    picture_->width = width_, picture_->height = height_;
    ffmpeg::Check(av_frame_get_buffer(picture_.get(), 0), "cannot allocate a frame", kSource);

    if (audio_decoder_) {
      AVCodecContext& sound = *audio_decoder_;
      const int rate = mpeg && job_.sample_rate > 0 ? job_.sample_rate : sound.sample_rate;
      const int channels = std::min(sound.ch_layout.nb_channels, 2);
      audio_encoder_ = ffmpeg::OpenEncoder(
          mpeg ? AV_CODEC_ID_MP2 : AV_CODEC_ID_WMAV2, *raw,
          [&](AVCodecContext& c, const AVCodec& codec) {
            c.sample_fmt = codec.sample_fmts ? codec.sample_fmts[0] : AV_SAMPLE_FMT_S16;
            c.sample_rate = rate;
            c.time_base = {1, rate};
            av_channel_layout_default(&c.ch_layout, channels);
            c.bit_rate = mpeg ? (job_.audio_bit_rate > 0 ? job_.audio_bit_rate : kMpegAudioBitRate)
                              : kWmvAudioBitRate;
          },
          kSource);
      audio_stream_ = ffmpeg::AddStream(*output_, *audio_encoder_, kSource);
      SwrContext* swr = nullptr;
      ffmpeg::Check(
          swr_alloc_set_opts2(&swr, &audio_encoder_->ch_layout, audio_encoder_->sample_fmt,
                              audio_encoder_->sample_rate, &sound.ch_layout, sound.sample_fmt,
                              sound.sample_rate, 0, nullptr),
          "cannot convert the sound", kSource);
      resample_.reset(swr);
      ffmpeg::Check(swr_init(swr), "cannot convert the sound", kSource);
      fifo_.reset(av_audio_fifo_alloc(audio_encoder_->sample_fmt, channels, 4096));
      if (!fifo_) throw Error(err::kOutOfMemory);
      sound_limit_ = static_cast<int64_t>(std::llround((job_.end - job_.start) * rate));
    }

    ffmpeg::Check(avio_open(&output_->pb, temporary.c_str(), AVIO_FLAG_WRITE),
                  "cannot create " + job_.output, kSource);
    ffmpeg::Check(avformat_write_header(output_.get(), nullptr), "cannot write " + job_.output,
                  kSource);
  }

  void Decode(AVCodecContext& decoder, AVPacket* packet, bool video) {
    // A damaged packet of the recording is skipped, as a player would.
    if (avcodec_send_packet(&decoder, packet) < 0 && packet) return;
    for (;;) {
      const int rc = avcodec_receive_frame(&decoder, frame_.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
      ffmpeg::Check(rc, "cannot decode the recording", kSource);
      if (video)
        TakePicture(decoder);
      else
        TakeSound();
      av_frame_unref(frame_.get());
    }
  }

  void TakePicture(const AVCodecContext& decoder) {
    const AVStream* stream = input_->streams[video_index_];
    const int64_t pts =
        frame_->best_effort_timestamp == AV_NOPTS_VALUE
            ? 0
            : frame_->best_effort_timestamp - std::max<int64_t>(stream->start_time, 0);
    const double seconds = pts * av_q2d(stream->time_base);
    if (seconds < job_.start || seconds >= job_.end) return;
    ffmpeg::Check(av_frame_make_writable(picture_.get()), "cannot allocate a frame", kSource);
    // Full range is said by the deprecated YUVJ format or, by newer decoders, by the range field.
    const bool full_range_420 =
        frame_->format == AV_PIX_FMT_YUVJ420P ||
        (frame_->format == AV_PIX_FMT_YUV420P && frame_->color_range == AVCOL_RANGE_JPEG);
    if (full_range_420 && decoder.width == width_ && decoder.height == height_) {
      SqueezeRange();
    } else {
      scale_.reset(sws_getCachedContext(scale_.release(), decoder.width, decoder.height,
                                        static_cast<AVPixelFormat>(frame_->format), width_, height_,
                                        AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                                        nullptr));
      if (!scale_) throw Error(err::kComponentFailed, "cannot scale the pictures", kSource);
      sws_scale(scale_.get(), frame_->data, frame_->linesize, 0, decoder.height, picture_->data,
                picture_->linesize);
    }
    // Each picture covers the output frames up to its own time: frames repeat or drop as the
    // rates demand, so pictures and sound keep their timing.
    const int64_t last = static_cast<int64_t>(std::floor((seconds - job_.start) * fps_ + 0.5));
    while (next_picture_ <= last) {
      picture_->pts = next_picture_++;
      Encode(*video_encoder_, video_stream_, picture_.get());
    }
    Progress(seconds - job_.start);
  }

  // The recording's full-range (JPEG) picture into the limited range the encoders take, through
  // one table per plane: at an unchanged size this is all the conversion there is to do.
  void SqueezeRange() {
    static const auto tables = [] {
      std::array<std::array<uint8_t, 256>, 2> t{};
      for (int v = 0; v < 256; ++v) {
        t[0][v] = static_cast<uint8_t>(16 + (v * 219 + 127) / 255);
        t[1][v] = static_cast<uint8_t>(128 + ((v - 128) * 224 + (v >= 128 ? 127 : -127)) / 255);
      }
      return t;
    }();
    for (int plane = 0; plane < 3; ++plane) {
      const auto& table = tables[plane == 0 ? 0 : 1];
      const int rows = plane == 0 ? height_ : (height_ + 1) / 2;
      const int columns = plane == 0 ? width_ : (width_ + 1) / 2;
      for (int y = 0; y < rows; ++y) {
        const uint8_t* from =
            frame_->data[plane] + static_cast<std::ptrdiff_t>(y) * frame_->linesize[plane];
        uint8_t* to =
            picture_->data[plane] + static_cast<std::ptrdiff_t>(y) * picture_->linesize[plane];
        for (int x = 0; x < columns; ++x) to[x] = table[from[x]];
      }
    }
  }

  // The decoded sound from the clip's start on; what the clip's length leaves out is cut later.
  void TakeSound() {
    const AVStream* stream = input_->streams[audio_index_];
    const double at =
        frame_->best_effort_timestamp == AV_NOPTS_VALUE
            ? 0
            : (frame_->best_effort_timestamp - std::max<int64_t>(stream->start_time, 0)) *
                  av_q2d(stream->time_base);
    const int skip =
        at >= job_.start
            ? 0
            : static_cast<int>(std::min<double>(
                  frame_->nb_samples, std::lround((job_.start - at) * frame_->sample_rate)));
    if (skip >= frame_->nb_samples) return;
    const auto format = static_cast<AVSampleFormat>(frame_->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame_->ch_layout.nb_channels;
    const std::size_t offset =
        static_cast<std::size_t>(skip) * av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    std::vector<const uint8_t*> planes(planar ? channels : 1);
    for (std::size_t i = 0; i < planes.size(); ++i) planes[i] = frame_->extended_data[i] + offset;
    Resample(planes.data(), frame_->nb_samples - skip);
  }

  // Converts `count` samples (none: the samples the resampler still holds) into the sound FIFO,
  // up to the clip's length.
  void Resample(const uint8_t** in, int count) {
    const int capacity = swr_get_out_samples(resample_.get(), count);
    if (capacity <= 0) return;
    if (!converted_ || converted_->nb_samples < capacity) {
      converted_ = ffmpeg::NewFrame();
      converted_->format = audio_encoder_->sample_fmt;
      converted_->nb_samples = capacity;
      av_channel_layout_copy(&converted_->ch_layout, &audio_encoder_->ch_layout);
      ffmpeg::Check(av_frame_get_buffer(converted_.get(), 0), "cannot allocate sound", kSource);
    }
    const int samples =
        ffmpeg::Check(swr_convert(resample_.get(), converted_->data, capacity, in, count),
                      "cannot convert the sound", kSource);
    const int64_t room = sound_limit_ - sound_taken_;
    const int kept = static_cast<int>(std::clamp<int64_t>(room, 0, samples));
    if (kept <= 0) return;
    sound_taken_ += kept;
    ffmpeg::Check(
        av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(converted_->data), kept),
        "cannot buffer the sound", kSource);
    DrainSound(false);
  }

  // Encodes the buffered sound in frames of the encoder's size; at the end, the rest padded.
  void DrainSound(bool last) {
    const int size = audio_encoder_->frame_size > 0 ? audio_encoder_->frame_size : 1024;
    while (av_audio_fifo_size(fifo_.get()) >= size ||
           (last && av_audio_fifo_size(fifo_.get()) > 0)) {
      ffmpeg::Frame chunk = ffmpeg::NewFrame();
      chunk->format = audio_encoder_->sample_fmt;
      chunk->nb_samples = size;
      chunk->sample_rate = audio_encoder_->sample_rate;
      av_channel_layout_copy(&chunk->ch_layout, &audio_encoder_->ch_layout);
      ffmpeg::Check(av_frame_get_buffer(chunk.get(), 0), "cannot allocate sound", kSource);
      av_samples_set_silence(chunk->data, 0, size, chunk->ch_layout.nb_channels,
                             audio_encoder_->sample_fmt);
      av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(chunk->data), size);
      chunk->pts = sound_written_;
      sound_written_ += size;
      Encode(*audio_encoder_, audio_stream_, chunk.get());
    }
  }

  void Encode(AVCodecContext& encoder, AVStream* stream, AVFrame* frame) {
    ffmpeg::EncodeInto(encoder, frame, *output_, *stream, *packet_, "the greeting", kSource);
  }

  void Progress(double done) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_progress_ < std::chrono::milliseconds(200)) return;
    last_progress_ = now;
    progress_(done, job_.end - job_.start);
  }

  const TranscodeJob& job_;
  const std::atomic<bool>& cancel_;
  const std::function<void(double, double)>& progress_;
  ffmpeg::InputContext input_;
  int video_index_ = -1;
  int audio_index_ = -1;
  ffmpeg::CodecContext video_decoder_;
  ffmpeg::CodecContext audio_decoder_;
  ffmpeg::OutputContext output_;
  ffmpeg::CodecContext video_encoder_;
  ffmpeg::CodecContext audio_encoder_;
  AVStream* video_stream_ = nullptr;
  AVStream* audio_stream_ = nullptr;
  ffmpeg::ScaleContext scale_;
  ffmpeg::SwrContext resample_;
  AudioFifo fifo_;
  ffmpeg::Frame frame_ = ffmpeg::NewFrame();
  ffmpeg::Frame picture_;
  ffmpeg::Frame converted_;
  ffmpeg::Packet packet_ = ffmpeg::NewPacket();
  int fps_ = 0;
  int width_ = 0;
  int height_ = 0;
  int64_t next_picture_ = 0;
  int64_t sound_limit_ = 0;
  int64_t sound_taken_ = 0;
  int64_t sound_written_ = 0;
  std::chrono::steady_clock::time_point last_progress_{};
};

}  // namespace

int64_t VideoBitRate(int width, int height, int fps) {
  return std::max<int64_t>(300000, int64_t{width} * height * fps / 4);
}

void Transcode(const TranscodeJob& job, const std::atomic<bool>& cancel,
               const std::function<void(double, double)>& progress) {
  ffmpeg::QuietLogs();
  if (job.format != kOutputFormatMpeg && job.format != kOutputFormatWmv)
    throw Error(err::kInvalidArgument, "no output format is set", kSource);
  if (!(job.end > job.start)) throw Error(err::kInvalidArgument, "the clip is empty", kSource);
  const fs::path target(job.output);
  const fs::path temporary = PartialPath(target);
  try {
    Transcoder(job, cancel, progress).Run(temporary.string());
    fs::rename(temporary, target);
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
}

}  // namespace moviletta
