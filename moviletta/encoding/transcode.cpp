// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/encoding/transcode.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "moviletta/common/constants.h"
#include "moviletta/common/file_write.h"
#include "moviletta/common/proportion.h"
#include "moviletta/common/start_thread.h"
#include "moviletta/encoding/channel.h"
#include "moviletta/encoding/video_editor.h"
#include "moviletta/ffmpeg/encoder.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSource = "Moviletta.VideoEditor";
constexpr int kWmvAudioBitRate = 48000;
constexpr int kMpegAudioBitRate = 64000;
constexpr int kWebAudioBitRate = 96000;
constexpr int kWebWidth = 1280, kWebHeight = 720;

// `width` x `height` made to fit `max_width` x `max_height` with its proportions, even numbers.
std::pair<int, int> Fitted(int width, int height, int max_width, int max_height) {
  const double scale = std::min({1.0, double(max_width) / width, double(max_height) / height});
  return {std::max(2, static_cast<int>(width * scale) & ~1),
          std::max(2, static_cast<int>(height * scale) & ~1)};
}

struct AudioFifoDeleter {
  void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifo = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

bool IsMpeg1FrameRate(int fps) {
  return fps == 24 || fps == 25 || fps == 30 || fps == 50 || fps == 60;
}

// What the reader hands one stream's worker: the frames decoded from one packet of the
// recording, or the end of the stream.
struct Work {
  std::vector<ffmpeg::Frame> frames;
  bool end = false;
};
// The packets one piece of work gave, in the order the encoder gave them.
using Batch = std::vector<ffmpeg::Packet>;
enum class Stream { kPictures, kSound, kDone };

// Reads and decodes the recording, converts and encodes the pictures, resamples and encodes the
// sound, and writes the packets. With several threads these four run at once (reader, picture
// worker, sound worker, and the writer on the calling thread); the writer takes each piece of
// work's packets in the order the reader handed the work out, so the file is the same byte for
// byte as with one thread, where each piece is done and written at once.
class Transcoder {
 public:
  Transcoder(const TranscodeJob& job, const std::atomic<bool>& cancel,
             const std::function<void(double, double)>& progress)
      : job_(job), cancel_(cancel), progress_(progress) {}

  void Run(const std::string& temporary) {
    OpenInput();
    OpenOutput(temporary);
    if (job_.threads == 1)
      Read();
    else
      RunPipeline();
    ffmpeg::Check(av_write_trailer(output_.get()), "cannot finish the output", kSource);
    const int closed = avio_closep(&output_->pb);
    ffmpeg::Check(closed, "cannot write the output", kSource);
    progress_(job_.end - job_.start, job_.end - job_.start);
  }

 private:
  // Channels between the threads: enough room for the reader to run ahead of the encoders.
  struct Pipeline {
    Channel<Work> pictures{12};
    Channel<Work> sound{128};
    Channel<Batch> encoded_pictures{64};
    Channel<Batch> encoded_sound{128};
    Channel<Stream> order{256};
    void Abort() {
      pictures.Abort();
      sound.Abort();
      encoded_pictures.Abort();
      encoded_sound.Abort();
      order.Abort();
    }
  };

  void RunPipeline() {
    Pipeline pipeline;
    pipeline_ = &pipeline;
    std::exception_ptr failure;
    std::mutex failure_mutex;
    // Every thread's failure ends the others; the first one is the job's.
    const auto guarded = [&](auto body) {
      return [&, body] {
        try {
          body();
        } catch (...) {
          std::lock_guard lock(failure_mutex);
          if (!failure) failure = std::current_exception();
          pipeline.Abort();
        }
      };
    };
    std::vector<std::thread> workers;
    const auto join_workers = [&] {
      for (std::thread& worker : workers) worker.join();
    };
    const auto start = [&](auto body) {
      workers.push_back(StartThread(guarded(std::move(body)), "the compression", kSource));
    };
    try {
      start([this] { Read(); });
      start([this, &pipeline] {
        while (auto work = pipeline.pictures.Pop())
          if (!pipeline.encoded_pictures.Push(Pictures(*work)) || work->end) return;
      });
      start([this, &pipeline] {
        while (auto work = pipeline.sound.Pop())
          if (!pipeline.encoded_sound.Push(Sound(*work)) || work->end) return;
      });
    } catch (const Error&) {  // the machine has no thread to spare
      pipeline.Abort();
      join_workers();
      pipeline_ = nullptr;
      throw;
    }
    guarded([&] {
      while (auto stream = pipeline.order.Pop()) {
        if (*stream == Stream::kDone) return;
        auto batch =
            (*stream == Stream::kPictures ? pipeline.encoded_pictures : pipeline.encoded_sound)
                .Pop();
        if (!batch) return;
        Write(*stream, *batch);
      }
    })();
    pipeline.Abort();  // every piece of work is written; a worker without a stream waits still
    join_workers();
    pipeline_ = nullptr;
    if (failure) std::rethrow_exception(failure);
    if (cancel_) throw Error(err::kComponentFailed, "the compression was cancelled", kSource);
  }

  // Reads the recording to its end, decoding each packet and handing the frames on.
  void Read() {
    ffmpeg::Packet packet = ffmpeg::NewPacket();
    int read = 0;
    while ((read = av_read_frame(input_.get(), packet.get())) >= 0) {
      if (cancel_) throw Error(err::kComponentFailed, "the compression was cancelled", kSource);
      if (packet->stream_index == video_index_ &&
          !HandOn(Stream::kPictures, Decode(*video_decoder_, packet.get())))
        return;
      if (packet->stream_index == audio_index_ && audio_decoder_ &&
          !HandOn(Stream::kSound, Decode(*audio_decoder_, packet.get())))
        return;
      av_packet_unref(packet.get());
    }
    if (read != AVERROR_EOF) ffmpeg::Check(read, "cannot read the recording", kSource);
    if (!HandOn(Stream::kPictures, Decode(*video_decoder_, nullptr))) return;
    if (audio_decoder_ && !HandOn(Stream::kSound, Decode(*audio_decoder_, nullptr))) return;
    Work end;
    end.end = true;
    if (!HandOn(Stream::kPictures, std::move(end))) return;
    if (audio_encoder_) {
      Work sound_end;
      sound_end.end = true;
      if (!HandOn(Stream::kSound, std::move(sound_end))) return;
    }
    if (pipeline_) pipeline_->order.Push(Stream::kDone);
  }

  // Gives `work` to its stream's worker, or with one thread does it and writes its packets at
  // once. False when the pipeline was aborted.
  bool HandOn(Stream stream, Work work) {
    if (work.frames.empty() && !work.end) return true;
    if (!pipeline_) {
      Batch batch = stream == Stream::kPictures ? Pictures(work) : Sound(work);
      Write(stream, batch);
      return true;
    }
    return (stream == Stream::kPictures ? pipeline_->pictures : pipeline_->sound)
               .Push(std::move(work)) &&
           pipeline_->order.Push(stream);
  }

  void Write(Stream stream, Batch& batch) {
    AVStream& to = *(stream == Stream::kPictures ? video_stream_ : audio_stream_);
    const AVRational from = stream == Stream::kPictures ? video_time_base_ : audio_time_base_;
    for (ffmpeg::Packet& packet : batch) {
      av_packet_rescale_ts(packet.get(), from, to.time_base);
      packet->stream_index = to.index;
      ffmpeg::Check(av_interleaved_write_frame(output_.get(), packet.get()),
                    "cannot write the greeting", kSource);
    }
  }

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
    pictures_in_ = Timing(*raw->streams[video_index_]);
    audio_index_ = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio_index_ >= 0) {
      audio_decoder_ = ffmpeg::OpenDecoder(raw->streams[audio_index_], job_.input, kSource, 1);
      sound_in_ = Timing(*raw->streams[audio_index_]);
    }
  }

  // Where a stream's timestamps count from and in what unit: the workers read these rather than
  // the input, which belongs to the reader.
  struct StreamTiming {
    int64_t start = 0;
    double unit = 0;
  };
  static StreamTiming Timing(const AVStream& stream) {
    return {std::max<int64_t>(stream.start_time, 0), av_q2d(stream.time_base)};
  }
  static double Seconds(const AVFrame& frame, const StreamTiming& timing) {
    return frame.best_effort_timestamp == AV_NOPTS_VALUE
               ? 0
               : (frame.best_effort_timestamp - timing.start) * timing.unit;
  }

  void OpenOutput(const std::string& temporary) {
    const bool mpeg = job_.format == kOutputFormatMpeg;
    const bool web = job_.format == kOutputFormatWebMp4;
    const AVCodecContext& in = *video_decoder_;
    fps_ = job_.fps > 0 ? job_.fps
                        : static_cast<int>(std::clamp<long>(
                              std::lround(av_q2d(input_->streams[video_index_]->avg_frame_rate)), 1,
                              kMaxFrameRate));
    width_ = (mpeg && job_.width > 0 ? job_.width : in.width) & ~1;
    height_ = (mpeg && job_.height > 0 ? job_.height : in.height) & ~1;
    if (web && width_ > 0 && height_ > 0)
      std::tie(width_, height_) = Fitted(width_, height_, kWebWidth, kWebHeight);
    if (width_ <= 0 || height_ <= 0 || width_ > 4095 || height_ > 4095)
      throw Error(err::kInvalidArgument,
                  "output size " + std::to_string(width_) + " x " + std::to_string(height_),
                  kSource);
    const bool mpeg1 = IsMpeg1FrameRate(fps_);
    const char* muxer = web ? "mp4" : !mpeg ? "asf" : mpeg1 ? "mpeg" : "vob";
    AVFormatContext* raw = nullptr;
    ffmpeg::Check(avformat_alloc_output_context2(&raw, nullptr, muxer, temporary.c_str()),
                  "cannot create the output", kSource);
    output_.reset(raw);

    const AVCodecID video_codec = web     ? AV_CODEC_ID_H264
                                  : !mpeg ? AV_CODEC_ID_WMV2
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
          if (web) {
            // Constant quality at x264's quick preset, its own threads; the profile every
            // phone decodes.
            c.bit_rate = 0;
            c.thread_count = 0;
            av_opt_set(c.priv_data, "preset", "veryfast", 0);
            av_opt_set(c.priv_data, "crf", "23", 0);
            av_opt_set(c.priv_data, "profile", "main", 0);
          }
        },
        kSource);
    video_stream_ = ffmpeg::AddStream(*output_, *video_encoder_, kSource);
    video_time_base_ = video_encoder_->time_base;
    picture_ = ffmpeg::NewFrame();
    picture_->format = AV_PIX_FMT_YUV420P;
    picture_->width = width_, picture_->height = height_;
    ffmpeg::Check(av_frame_get_buffer(picture_.get(), 0), "cannot allocate a frame", kSource);

    if (audio_decoder_) {
      AVCodecContext& sound = *audio_decoder_;
      const int rate = mpeg && job_.sample_rate > 0 ? job_.sample_rate : sound.sample_rate;
      const int channels = std::min(sound.ch_layout.nb_channels, 2);
      audio_encoder_ = ffmpeg::OpenEncoder(
          web    ? AV_CODEC_ID_AAC
          : mpeg ? AV_CODEC_ID_MP2
                 : AV_CODEC_ID_WMAV2,
          *raw,
          [&](AVCodecContext& c, const AVCodec& codec) {
            c.sample_fmt = codec.sample_fmts ? codec.sample_fmts[0] : AV_SAMPLE_FMT_S16;
            c.sample_rate = rate;
            c.time_base = {1, rate};
            av_channel_layout_default(&c.ch_layout, channels);
            c.bit_rate = web ? kWebAudioBitRate
                         : mpeg
                             ? (job_.audio_bit_rate > 0 ? job_.audio_bit_rate : kMpegAudioBitRate)
                             : kWmvAudioBitRate;
          },
          kSource);
      audio_stream_ = ffmpeg::AddStream(*output_, *audio_encoder_, kSource);
      audio_time_base_ = audio_encoder_->time_base;
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

    CreateOwnFile(temporary, kSource);  // a greeting is its owner's alone
    ffmpeg::Check(avio_open(&output_->pb, temporary.c_str(), AVIO_FLAG_WRITE),
                  "cannot create " + job_.output, kSource);
    AVDictionary* raw_options = nullptr;
    if (web) av_dict_set(&raw_options, "movflags", "+faststart", 0);
    const std::unique_ptr<AVDictionary*, void (*)(AVDictionary**)> muxer_options(&raw_options,
                                                                                 av_dict_free);
    ffmpeg::Check(avformat_write_header(output_.get(), muxer_options.get()),
                  "cannot write " + job_.output, kSource);
  }

  // The frames `packet` decodes to (none: the decoder's last ones).
  Work Decode(AVCodecContext& decoder, AVPacket* packet) {
    Work work;
    // A damaged packet of the recording is skipped, as a player would.
    if (avcodec_send_packet(&decoder, packet) < 0 && packet) return work;
    for (;;) {
      ffmpeg::Frame frame = ffmpeg::NewFrame();
      const int rc = avcodec_receive_frame(&decoder, frame.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return work;
      ffmpeg::Check(rc, "cannot decode the recording", kSource);
      work.frames.push_back(std::move(frame));
    }
  }

  // The picture worker: converts and encodes, and at the end drains the encoder.
  Batch Pictures(const Work& work) {
    Batch batch;
    for (const ffmpeg::Frame& frame : work.frames) TakePicture(*frame, batch);
    if (work.end) Encode(*video_encoder_, nullptr, batch);
    return batch;
  }

  // The sound worker: resamples and encodes, and at the end drains the resampler and the
  // encoder.
  Batch Sound(const Work& work) {
    Batch batch;
    if (!audio_encoder_) return batch;
    for (const ffmpeg::Frame& frame : work.frames) TakeSound(*frame, batch);
    if (work.end) {
      if (resample_) Resample(nullptr, 0, batch);
      DrainSound(true, batch);
      Encode(*audio_encoder_, nullptr, batch);
    }
    return batch;
  }

  void TakePicture(const AVFrame& frame, Batch& batch) {
    const double seconds = Seconds(frame, pictures_in_);
    if (seconds < job_.start || seconds >= job_.end) return;
    ffmpeg::Check(av_frame_make_writable(picture_.get()), "cannot allocate a frame", kSource);
    // Full range is said by the deprecated YUVJ format or, by newer decoders, by the range field.
    const bool full_range_420 =
        frame.format == AV_PIX_FMT_YUVJ420P ||
        (frame.format == AV_PIX_FMT_YUV420P && frame.color_range == AVCOL_RANGE_JPEG);
    if (full_range_420 && frame.width == width_ && frame.height == height_) {
      SqueezeRange(frame);
    } else {
      // A recording of another shape than the output keeps its proportions between black bars.
      const PictureCrop inside = CentredFit(frame.width, frame.height, width_, height_);
      std::array<uint8_t*, 4> planes{picture_->data[0], picture_->data[1], picture_->data[2]};
      if (inside.width != width_ || inside.height != height_) {
        const std::array<ptrdiff_t, 4> lines{picture_->linesize[0], picture_->linesize[1],
                                             picture_->linesize[2], 0};
        av_image_fill_black(picture_->data, lines.data(), AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG,
                            width_, height_);
        planes[0] += inside.y * picture_->linesize[0] + inside.x;
        for (int plane : {1, 2})
          planes[plane] += inside.y / 2 * picture_->linesize[plane] + inside.x / 2;
      }
      scale_.reset(sws_getCachedContext(
          scale_.release(), frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
          inside.width, inside.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
      if (!scale_) throw Error(err::kComponentFailed, "cannot scale the pictures", kSource);
      sws_scale(scale_.get(), frame.data, frame.linesize, 0, frame.height, planes.data(),
                picture_->linesize);
    }
    // Each picture covers the output frames up to its own time: frames repeat or drop as the
    // rates demand, so pictures and sound keep their timing.
    const int64_t last = static_cast<int64_t>(std::floor((seconds - job_.start) * fps_ + 0.5));
    while (next_picture_ <= last) {
      picture_->pts = next_picture_++;
      Encode(*video_encoder_, picture_.get(), batch);
    }
    Progress(seconds - job_.start);
  }

  // The recording's full-range (JPEG) picture into the limited range the encoders take, through
  // one table per plane: at an unchanged size this is all the conversion there is to do.
  void SqueezeRange(const AVFrame& frame) {
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
            frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane];
        uint8_t* to =
            picture_->data[plane] + static_cast<std::ptrdiff_t>(y) * picture_->linesize[plane];
        for (int x = 0; x < columns; ++x) to[x] = table[from[x]];
      }
    }
  }

  // The decoded sound from the clip's start on; what the clip's length leaves out is cut later.
  void TakeSound(const AVFrame& frame, Batch& batch) {
    const double at = Seconds(frame, sound_in_);
    const int skip =
        at >= job_.start
            ? 0
            : static_cast<int>(std::min<double>(
                  frame.nb_samples, std::lround((job_.start - at) * frame.sample_rate)));
    if (skip >= frame.nb_samples) return;
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame.ch_layout.nb_channels;
    const std::size_t offset =
        static_cast<std::size_t>(skip) * av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    std::vector<const uint8_t*> planes(planar ? channels : 1);
    for (std::size_t i = 0; i < planes.size(); ++i) planes[i] = frame.extended_data[i] + offset;
    Resample(planes.data(), frame.nb_samples - skip, batch);
  }

  // Converts `count` samples (none: the samples the resampler still holds) into the sound FIFO,
  // up to the clip's length.
  void Resample(const uint8_t** in, int count, Batch& batch) {
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
    DrainSound(false, batch);
  }

  // Encodes the buffered sound in frames of the encoder's size; at the end, the rest padded.
  void DrainSound(bool last, Batch& batch) {
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
      Encode(*audio_encoder_, chunk.get(), batch);
    }
  }

  void Encode(AVCodecContext& encoder, AVFrame* frame, Batch& batch) {
    const ffmpeg::Packet scratch = ffmpeg::NewPacket();
    ffmpeg::Encode(
        encoder, frame, *scratch,
        [&](AVPacket& packet) {
          ffmpeg::Packet kept = ffmpeg::NewPacket();
          av_packet_move_ref(kept.get(), &packet);
          batch.push_back(std::move(kept));
        },
        "the greeting", kSource);
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
  AVRational video_time_base_{};
  AVRational audio_time_base_{};
  StreamTiming pictures_in_;
  StreamTiming sound_in_;
  Pipeline* pipeline_ = nullptr;  // none with one thread
  ffmpeg::ScaleContext scale_;
  ffmpeg::SwrContext resample_;
  AudioFifo fifo_;
  ffmpeg::Frame picture_;
  ffmpeg::Frame converted_;
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

bool TranscodeJob::SameWork(const TranscodeJob& o) const {
  return std::tie(input, start, end, format, fps, width, height, sample_rate, audio_bit_rate) ==
         std::tie(o.input, o.start, o.end, o.format, o.fps, o.width, o.height, o.sample_rate,
                  o.audio_bit_rate);
}

int64_t VideoBitRate(int width, int height, int fps) {
  return std::max<int64_t>(300000, int64_t{width} * height * fps / 4);
}

void Transcode(const TranscodeJob& job, const std::atomic<bool>& cancel,
               const std::function<void(double, double)>& progress) {
  ffmpeg::QuietLogs();
  if (job.format != kOutputFormatMpeg && job.format != kOutputFormatWmv &&
      job.format != kOutputFormatWebMp4)
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
