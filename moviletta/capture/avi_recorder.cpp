// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/avi_recorder.h"

#include <sys/resource.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>

#include "moviletta/common/file_write.h"
#include "moviletta/ffmpeg/encoder.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.AviRecorder";
constexpr int kJpegQuantiser = 4;  // 2 (best) .. 31; 4 keeps skins crisp at a modest size
// What finishing the file may take beyond the index: the encoders' last packets, the headers
// written again, the buffer's slack.
constexpr int64_t kFinishBytes = 16 << 10;
constexpr int64_t kIndexBytesPerFrame = 32;  // a video and a sound chunk, 16 bytes each

// The bytes the file at `path`, now `size` long, may still grow by: the free space of its disk
// and the process's file size limit, whichever is less.
int64_t RoomToGrow(const std::string& path, int64_t size) {
  int64_t room = INT64_MAX;
  struct statvfs disk {};
  if (statvfs(path.c_str(), &disk) == 0)
    room = static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize);
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    room = std::min(room, static_cast<int64_t>(limit.rlim_cur) - size);
  return room;
}

}  // namespace

struct AviRecorder::Impl {
  ffmpeg::OutputContext output;
  ffmpeg::CodecContext video;
  ffmpeg::CodecContext audio;
  ffmpeg::ScaleContext scale;
  ffmpeg::Frame picture = ffmpeg::NewFrame();
  ffmpeg::Frame sound = ffmpeg::NewFrame();
  ffmpeg::Packet packet = ffmpeg::NewPacket();
  AVStream* video_stream = nullptr;
  AVStream* audio_stream = nullptr;
  int width = 0;
  int height = 0;
  int64_t frames = 0;
  int64_t samples = 0;
  int64_t largest_frame = 0;  // the most bytes one Write has added
  std::string path;
  bool finished = false;

  // Sends `frame` (null to flush) and writes every packet the encoder gives back.
  void Encode(AVCodecContext* encoder, AVStream* stream, AVFrame* frame) {
    ffmpeg::EncodeInto(*encoder, frame, *output, *stream, *packet, "the recording", kSource);
  }
};

AviRecorder::AviRecorder(const std::string& path, int width, int height, int fps, int sample_rate)
    : impl_(std::make_unique<Impl>()) {
  ffmpeg::QuietLogs();
  Impl& r = *impl_;
  r.width = width, r.height = height;
  r.path = path;
  AVFormatContext* raw = nullptr;
  ffmpeg::Check(avformat_alloc_output_context2(&raw, nullptr, "avi", path.c_str()),
                "cannot create " + path, kSource);
  r.output.reset(raw);

  r.video = ffmpeg::OpenEncoder(
      AV_CODEC_ID_MJPEG, *r.output,
      [&](AVCodecContext& c, const AVCodec&) {
        c.width = width, c.height = height;
        c.time_base = {1, fps};
        c.framerate = {fps, 1};
        c.pix_fmt = AV_PIX_FMT_YUVJ420P;
        c.color_range = AVCOL_RANGE_JPEG;
        c.flags |= AV_CODEC_FLAG_QSCALE;
        c.global_quality = FF_QP2LAMBDA * kJpegQuantiser;
      },
      kSource);
  r.audio = ffmpeg::OpenEncoder(
      AV_CODEC_ID_PCM_S16LE, *r.output,
      [&](AVCodecContext& c, const AVCodec&) {
        c.sample_fmt = AV_SAMPLE_FMT_S16;
        c.sample_rate = sample_rate;
        c.time_base = {1, sample_rate};
        av_channel_layout_default(&c.ch_layout, 1);
      },
      kSource);

  r.video_stream = ffmpeg::AddStream(*r.output, *r.video, kSource);
  r.audio_stream = ffmpeg::AddStream(*r.output, *r.audio, kSource);

  r.picture->format = AV_PIX_FMT_YUVJ420P;
  r.picture->width = width, r.picture->height = height;
  ffmpeg::Check(av_frame_get_buffer(r.picture.get(), 0), "cannot allocate a frame", kSource);
  r.scale = ffmpeg::RgbaToJpegYuv(width, height, "cannot convert the recording", kSource);

  CreateOwnFile(path, kSource);  // the visitor's recording is theirs alone
  if (avio_open(&r.output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
    throw Error(err::kPathFileAccess, "cannot create " + path, kSource, errno);
  ffmpeg::Check(avformat_write_header(r.output.get(), nullptr), "cannot write " + path, kSource);
}

AviRecorder::~AviRecorder() {
  try {
    Finish();
  } catch (...) {
  }
}

void AviRecorder::Write(const uint8_t* rgba, const int16_t* samples, int count) {
  Impl& r = *impl_;
  // What the file holds so far is on the disk, not in the buffer, so that the disk's free space
  // tells what this frame and the finish may still take.
  avio_flush(r.output->pb);
  const int64_t before = avio_tell(r.output->pb);
  const int64_t needed = 2 * r.largest_frame + (r.frames + 2) * kIndexBytesPerFrame + kFinishBytes;
  if (RoomToGrow(r.path, before) < needed)
    throw Error(err::kDiskFull, "The disk is full: the recording ends here.", kSource);
  ffmpeg::Check(av_frame_make_writable(r.picture.get()), "cannot allocate a frame", kSource);
  const int stride = r.width * 4;
  sws_scale(r.scale.get(), &rgba, &stride, 0, r.height, r.picture->data, r.picture->linesize);
  r.picture->pts = r.frames++;
  r.picture->quality = r.video->global_quality;
  r.Encode(r.video.get(), r.video_stream, r.picture.get());

  if (count > 0) {
    av_frame_unref(r.sound.get());
    r.sound->format = AV_SAMPLE_FMT_S16;
    r.sound->sample_rate = r.audio->sample_rate;
    r.sound->nb_samples = count;
    av_channel_layout_copy(&r.sound->ch_layout, &r.audio->ch_layout);
    ffmpeg::Check(av_frame_get_buffer(r.sound.get(), 0), "cannot allocate sound", kSource);
    std::memcpy(r.sound->data[0], samples, static_cast<std::size_t>(count) * sizeof(int16_t));
    r.sound->pts = r.samples;
    r.samples += count;
    r.Encode(r.audio.get(), r.audio_stream, r.sound.get());
  }
  r.largest_frame = std::max(r.largest_frame, avio_tell(r.output->pb) - before);
}

void AviRecorder::Finish() {
  Impl& r = *impl_;
  if (r.finished) return;
  r.finished = true;
  std::string failure;
  try {
    r.Encode(r.video.get(), r.video_stream, nullptr);
    r.Encode(r.audio.get(), r.audio_stream, nullptr);
  } catch (const Error& e) {
    failure = e.description();
  }
  // The trailer and the closing are attempted even after a failed write, so that what was
  // written stays readable.
  const int trailer = av_write_trailer(r.output.get());
  const int closed = avio_closep(&r.output->pb);
  if (!failure.empty()) throw Error(err::kComponentFailed, failure, kSource);
  ffmpeg::Check(trailer, "cannot finish the recording", kSource);
  ffmpeg::Check(closed, "cannot close the recording", kSource);
}

int64_t AviRecorder::frames() const {
  return impl_->frames;
}

}  // namespace moviletta
