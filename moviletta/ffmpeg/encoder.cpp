// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/ffmpeg/encoder.h"

namespace moviletta::ffmpeg {

CodecContext OpenEncoder(AVCodecID id, const AVFormatContext& output,
                         const std::function<void(AVCodecContext&, const AVCodec&)>& setup,
                         const char* source) {
  const AVCodec* codec = avcodec_find_encoder(id);
  if (!codec)
    throw Error(err::kComponentFailed, std::string("no encoder ") + avcodec_get_name(id), source);
  CodecContext context(avcodec_alloc_context3(codec));
  if (!context) throw Error(err::kOutOfMemory);
  context->thread_count = 1;
  setup(*context, *codec);
  if (output.oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(avcodec_open2(context.get(), codec, nullptr),
        std::string("cannot open the encoder ") + codec->name, source);
  return context;
}

AVStream* AddStream(AVFormatContext& output, const AVCodecContext& encoder, const char* source) {
  AVStream* stream = avformat_new_stream(&output, nullptr);
  if (!stream) throw Error(err::kOutOfMemory);
  stream->time_base = encoder.time_base;
  Check(avcodec_parameters_from_context(stream->codecpar, &encoder), "cannot describe the output",
        source);
  return stream;
}

void Encode(AVCodecContext& encoder, AVFrame* frame, AVPacket& packet,
            const std::function<void(AVPacket&)>& take, const std::string& what,
            const char* source) {
  Check(avcodec_send_frame(&encoder, frame), "cannot compress " + what, source);
  for (;;) {
    const int rc = avcodec_receive_packet(&encoder, &packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    Check(rc, "cannot compress " + what, source);
    take(packet);
  }
}

void EncodeInto(AVCodecContext& encoder, AVFrame* frame, AVFormatContext& output, AVStream& stream,
                AVPacket& packet, const std::string& what, const char* source) {
  Encode(
      encoder, frame, packet,
      [&](AVPacket& written) {
        av_packet_rescale_ts(&written, encoder.time_base, stream.time_base);
        written.stream_index = stream.index;
        Check(av_interleaved_write_frame(&output, &written), "cannot write " + what, source);
      },
      what, source);
}

}  // namespace moviletta::ffmpeg
