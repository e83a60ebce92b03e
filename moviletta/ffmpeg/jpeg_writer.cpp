// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/ffmpeg/jpeg_writer.h"

#include <algorithm>

#include "moviletta/common/file_write.h"
#include "moviletta/ffmpeg/handles.h"

namespace moviletta {
namespace {
constexpr const char* kSource = "Moviletta.JpegWriter";
}

std::string EncodeJpeg(const Bitmap& picture, int quality) {
  ffmpeg::QuietLogs();
  if (picture.width <= 0 || picture.height <= 0)
    throw Error(err::kComponentFailed, "no picture to save", kSource);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (!codec) throw Error(err::kComponentFailed, "no JPEG encoder", kSource);
  ffmpeg::CodecContext encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw Error(err::kOutOfMemory);
  // Width and height must be even for 4:2:0; an odd edge is dropped.
  const int width = picture.width & ~1, height = picture.height & ~1;
  if (width == 0 || height == 0) throw Error(err::kComponentFailed, "picture too small", kSource);
  encoder->width = width, encoder->height = height;
  encoder->time_base = {1, 25};
  encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
  encoder->color_range = AVCOL_RANGE_JPEG;
  encoder->flags |= AV_CODEC_FLAG_QSCALE;
  const int quantiser = 2 + (100 - std::clamp(quality, 1, 100)) * 29 / 99;
  encoder->global_quality = FF_QP2LAMBDA * quantiser;
  ffmpeg::Check(avcodec_open2(encoder.get(), codec, nullptr), "cannot open the JPEG encoder",
                kSource);

  ffmpeg::Frame frame = ffmpeg::NewFrame();
  frame->format = AV_PIX_FMT_YUVJ420P;
  frame->width = width, frame->height = height;
  frame->quality = encoder->global_quality;
  ffmpeg::Check(av_frame_get_buffer(frame.get(), 0), "cannot allocate a frame", kSource);
  const ffmpeg::ScaleContext scale =
      ffmpeg::RgbaToJpegYuv(width, height, "cannot convert the picture", kSource);
  const uint8_t* rows = picture.rgba.data();
  const int stride = picture.width * 4;
  sws_scale(scale.get(), &rows, &stride, 0, height, frame->data, frame->linesize);

  ffmpeg::Check(avcodec_send_frame(encoder.get(), frame.get()), "cannot encode the picture",
                kSource);
  ffmpeg::Packet packet = ffmpeg::NewPacket();
  ffmpeg::Check(avcodec_receive_packet(encoder.get(), packet.get()), "cannot encode the picture",
                kSource);
  return std::string(reinterpret_cast<const char*>(packet->data),
                     static_cast<std::size_t>(packet->size));
}

void WriteJpeg(const Bitmap& picture, const std::string& path, int quality) {
  WriteFileWhole(path, EncodeJpeg(picture, quality), kSource, /*sync_to_disk=*/false,
                 /*owner_only=*/true);
}

}  // namespace moviletta
