// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/ffmpeg/still_frame.h"

#include <algorithm>

#include "moviletta/ffmpeg/frame_picture.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.Still";
// Pictures this close to the time asked for count as showing at it (times are rounded in files).
constexpr double kEdge = 1e-3;

}  // namespace

Bitmap StillAt(const std::string& path, double seconds) {
  const ffmpeg::InputContext input = ffmpeg::OpenInput(path, kSource);
  AVFormatContext* raw = input.get();
  const int index = ffmpeg::Check(av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0),
                                  "no pictures in " + path, kSource);
  const AVStream* stream = raw->streams[index];
  const ffmpeg::CodecContext decoder = ffmpeg::OpenDecoder(stream, path, kSource);
  const double unit = av_q2d(stream->time_base);
  const int64_t first = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  seconds = std::max(seconds, 0.0);
  av_seek_frame(raw, index, first + static_cast<int64_t>(seconds / unit), AVSEEK_FLAG_BACKWARD);

  // The last picture that starts by `seconds`, or the first one after it when none does.
  ffmpeg::Frame frame = ffmpeg::NewFrame();
  ffmpeg::Frame kept = ffmpeg::NewFrame();
  bool found = false, past = false;
  const auto take = [&] {
    while (!past && avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      const int64_t stamp = frame->best_effort_timestamp;
      past = stamp != AV_NOPTS_VALUE && (stamp - first) * unit > seconds + kEdge;
      if (past && found) return;
      av_frame_unref(kept.get());
      av_frame_move_ref(kept.get(), frame.get());
      found = true;
    }
  };
  ffmpeg::Packet packet = ffmpeg::NewPacket();
  while (!past && av_read_frame(raw, packet.get()) >= 0) {
    if (packet->stream_index == index && avcodec_send_packet(decoder.get(), packet.get()) >= 0)
      take();
    av_packet_unref(packet.get());
  }
  if (!past && avcodec_send_packet(decoder.get(), nullptr) >= 0) take();
  if (!found) throw Error(err::kComponentFailed, "no picture could be read from " + path, kSource);
  ffmpeg::ScaleContext scale;
  std::optional<Bitmap> picture = ffmpeg::FramePicture(*kept, kept->width, kept->height, scale);
  if (!picture) throw Error(err::kComponentFailed, "cannot convert the picture", kSource);
  return std::move(*picture);
}

}  // namespace moviletta
