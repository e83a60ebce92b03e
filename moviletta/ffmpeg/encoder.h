// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Encoders writing into an output file, shared by the recorder and the compression. Implementation
// files only: public headers stay free of FFmpeg.
#include <functional>

#include "moviletta/ffmpeg/handles.h"

namespace moviletta::ffmpeg {

// The encoder for `id`, one thread unless `setup` says otherwise, set up by `setup` (which gets
// the codec for its formats) and opened with the global header when `output`'s muxer wants one.
// Throws Error from `source` when FFmpeg has no such encoder or refuses the set-up.
CodecContext OpenEncoder(AVCodecID id, const AVFormatContext& output,
                         const std::function<void(AVCodecContext&, const AVCodec&)>& setup,
                         const char* source);

// A new stream of `output` that carries what `encoder` writes. Throws Error from `source`.
AVStream* AddStream(AVFormatContext& output, const AVCodecContext& encoder, const char* source);

// Sends `frame` to `encoder` (null drains it) and hands every packet it gives back to `take`
// through `packet`, in the encoder's time base; `take` owns its content from then on. Throws
// Error from `source`, naming `what` is being compressed.
void Encode(AVCodecContext& encoder, AVFrame* frame, AVPacket& packet,
            const std::function<void(AVPacket&)>& take, const std::string& what,
            const char* source);

// Sends `frame` to `encoder` (null drains it) and writes every packet it gives back to `stream`
// of `output`, through `packet`. Throws Error from `source`, naming `what` is being written.
void EncodeInto(AVCodecContext& encoder, AVFrame* frame, AVFormatContext& output, AVStream& stream,
                AVPacket& packet, const std::string& what, const char* source);

}  // namespace moviletta::ffmpeg
