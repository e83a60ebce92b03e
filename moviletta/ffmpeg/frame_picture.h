// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "moviletta/common/bitmap.h"
#include "moviletta/ffmpeg/handles.h"

namespace moviletta::ffmpeg {

// The decoded `frame` as a picture of `width` x `height`, in its own proportions, in the middle
// between opaque black bars when its shape differs (CentredFit). `scale` is the caller's
// converter, made again only when sizes or formats change. Nothing when swscale refuses. Any
// thread.
std::optional<Bitmap> FramePicture(const AVFrame& frame, int width, int height,
                                   ScaleContext& scale);

}  // namespace moviletta::ffmpeg
