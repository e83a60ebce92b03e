// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/ffmpeg/frame_picture.h"

#include "moviletta/common/proportion.h"

namespace moviletta::ffmpeg {

std::optional<Bitmap> FramePicture(const AVFrame& frame, int width, int height,
                                   ScaleContext& scale) {
  const PictureCrop inside = CentredFit(frame.width, frame.height, width, height);
  scale.reset(sws_getCachedContext(
      scale.release(), frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
      inside.width, inside.height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scale) return std::nullopt;
  Bitmap picture = BlackBitmap(width, height);
  uint8_t* rows = &picture.rgba[(static_cast<std::size_t>(inside.y) * width + inside.x) * 4];
  const int stride = width * 4;
  sws_scale(scale.get(), frame.data, frame.linesize, 0, frame.height, &rows, &stride);
  return picture;
}

}  // namespace moviletta::ffmpeg
