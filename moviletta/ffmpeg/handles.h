// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Owners of FFmpeg handles and the translation of FFmpeg's error codes. Implementation files only:
// public headers stay free of FFmpeg.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <mutex>
#include <string>

#include "moviletta/common/error.h"

namespace moviletta::ffmpeg {

template <auto Free>
struct Deleter {
  template <class T>
  void operator()(T* handle) const {
    Free(&handle);
  }
};

using CodecContext = std::unique_ptr<AVCodecContext, Deleter<avcodec_free_context>>;
using Frame = std::unique_ptr<AVFrame, Deleter<av_frame_free>>;
using Packet = std::unique_ptr<AVPacket, Deleter<av_packet_free>>;
using InputContext = std::unique_ptr<AVFormatContext, Deleter<avformat_close_input>>;
using SwrContext = std::unique_ptr<::SwrContext, Deleter<swr_free>>;

struct SwsDeleter {
  void operator()(SwsContext* sws) const { sws_freeContext(sws); }
};
using ScaleContext = std::unique_ptr<SwsContext, SwsDeleter>;

// An output file: the muxer context and, once opened, its file.
struct OutputDeleter {
  void operator()(AVFormatContext* context) const {
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using OutputContext = std::unique_ptr<AVFormatContext, OutputDeleter>;

inline std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Throws Error kComponentFailed naming `what` when `code` is an FFmpeg failure; returns it
// otherwise.
inline int Check(int code, const std::string& what, const char* source) {
  if (code < 0)
    throw Error(err::kComponentFailed, what + ": " + ErrorText(code), source,
                code > -4096 ? AVUNERROR(code) : 0);
  return code;
}

// FFmpeg prints notes and warnings to stderr by default; the engine reports its own failures.
inline void QuietLogs() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

// The media file at `path`, opened with its streams read (FFmpeg's logs quiet). Throws Error
// (kFileNotFound when it cannot be opened).
inline InputContext OpenInput(const std::string& path, const char* source) {
  QuietLogs();
  AVFormatContext* raw = nullptr;
  const int opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (opened < 0)
    throw Error(err::kFileNotFound, "cannot open " + path + ": " + ErrorText(opened), source);
  InputContext input(raw);
  Check(avformat_find_stream_info(raw, nullptr), "cannot read " + path, source);
  return input;
}

// A decoder opened for `stream`; `threads` 0 lets FFmpeg choose. Throws Error naming `what`.
inline CodecContext OpenDecoder(const AVStream* stream, const std::string& what, const char* source,
                                int threads = 0) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) throw Error(err::kComponentFailed, "cannot decode " + what, source);
  CodecContext context(avcodec_alloc_context3(codec));
  if (!context) throw Error(err::kOutOfMemory);
  Check(avcodec_parameters_to_context(context.get(), stream->codecpar), "cannot decode " + what,
        source);
  context->thread_count = threads;
  Check(avcodec_open2(context.get(), codec, nullptr), "cannot decode " + what, source);
  return context;
}

inline Frame NewFrame() {
  Frame frame(av_frame_alloc());
  if (!frame) throw Error(err::kOutOfMemory);
  return frame;
}

inline Packet NewPacket() {
  Packet packet(av_packet_alloc());
  if (!packet) throw Error(err::kOutOfMemory);
  return packet;
}

// RGBA pictures of `width` x `height` into full-range 4:2:0 of the same size, as JPEG takes
// them. The colour planes are filtered over both directions, so a detail one pixel thin keeps
// its colour instead of losing it or lending it to its neighbour. Throws Error (`what`) when
// swscale refuses.
inline ScaleContext RgbaToJpegYuv(int width, int height, const char* what, const char* source) {
  ScaleContext scale(sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height,
                                    AV_PIX_FMT_YUVJ420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scale) throw Error(err::kComponentFailed, what, source);
  return scale;
}

}  // namespace moviletta::ffmpeg
