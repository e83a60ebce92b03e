// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/intake/media_check.h"

#include "moviletta/ffmpeg/handles.h"
#include "service/intake/refused_mail.h"

namespace moviletta::service {
namespace {

// The facts of the file's best video stream once one picture of it decodes; `format` forces the
// container ("" guesses). Throws RefusedMail naming `what` it should have been.
MediaFacts FirstPicture(const std::string& path, const char* format, const std::string& what) {
  ffmpeg::QuietLogs();
  AVFormatContext* raw = nullptr;
  const AVInputFormat* forced = *format ? av_find_input_format(format) : nullptr;
  if (avformat_open_input(&raw, path.c_str(), forced, nullptr) < 0)
    throw RefusedMail("the " + what + " is not one");
  const ffmpeg::InputContext input(raw);
  if (avformat_find_stream_info(raw, nullptr) < 0) throw RefusedMail("the " + what + " is not one");
  const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) throw RefusedMail("the " + what + " has no pictures");
  MediaFacts facts;
  facts.sound = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
  if (raw->duration != AV_NOPTS_VALUE && raw->duration > 0)
    facts.seconds = static_cast<double>(raw->duration) / AV_TIME_BASE;
  ffmpeg::CodecContext decoder;
  try {
    decoder = ffmpeg::OpenDecoder(raw->streams[index], what, "Intake", 1);
  } catch (const Error&) {
    throw RefusedMail("the " + what + "'s pictures cannot be decoded");
  }
  const ffmpeg::Packet packet = ffmpeg::NewPacket();
  const ffmpeg::Frame frame = ffmpeg::NewFrame();
  for (int packets = 0; packets < 1000 && av_read_frame(raw, packet.get()) >= 0; ++packets) {
    const bool ours = packet->stream_index == index;
    const int sent = ours ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
    av_packet_unref(packet.get());
    if (sent < 0) continue;
    if (ours && avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      facts.width = frame->width, facts.height = frame->height;
      return facts;
    }
  }
  avcodec_send_packet(decoder.get(), nullptr);
  if (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
    facts.width = frame->width, facts.height = frame->height;
    return facts;
  }
  throw RefusedMail("the " + what + "'s pictures cannot be decoded");
}

}  // namespace

MediaFacts CheckVideo(const std::string& path, double max_seconds) {
  MediaFacts facts = FirstPicture(path, "", "video");
  if (!(facts.seconds > 0)) throw RefusedMail("the video's length is unknown");
  if (facts.seconds > max_seconds)
    throw RefusedMail("the video is longer than " + std::to_string(int(max_seconds)) + " s");
  return facts;
}

MediaFacts CheckJpeg(const std::string& path) {
  MediaFacts facts = FirstPicture(path, "jpeg_pipe", "snapshot");
  facts.seconds = 0;
  return facts;
}

}  // namespace moviletta::service
