// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/bitmap_scale.h"

#include <algorithm>

#include "moviletta/common/proportion.h"
#include "moviletta/ffmpeg/handles.h"

namespace moviletta {

BitmapHandle ScaleBitmap(const BitmapHandle& picture, int width, int height, Scaling scaling) {
  if (!picture || width <= 0 || height <= 0 ||
      (picture->width == width && picture->height == height))
    return picture;
  ffmpeg::ScaleContext scale(sws_getContext(
      picture->width, picture->height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_RGBA,
      scaling == Scaling::kNearest ? SWS_POINT : SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!scale) return picture;
  Bitmap scaled{width, height, std::vector<uint8_t>(static_cast<std::size_t>(width) * height * 4)};
  const uint8_t* from = picture->rgba.data();
  uint8_t* to = scaled.rgba.data();
  const int from_stride = picture->width * 4, to_stride = width * 4;
  sws_scale(scale.get(), &from, &from_stride, 0, picture->height, &to, &to_stride);
  return std::make_shared<const Bitmap>(std::move(scaled));
}

BitmapHandle FitBitmap(const BitmapHandle& picture, int width, int height) {
  if (!picture || width <= 0 || height <= 0 ||
      (picture->width == width && picture->height == height))
    return picture;
  const PictureCrop inside = CentredFit(picture->width, picture->height, width, height);
  const BitmapHandle scaled = ScaleBitmap(picture, inside.width, inside.height);
  if (inside.width == width && inside.height == height) return scaled;
  Bitmap boxed = BlackBitmap(width, height);
  for (int y = 0; y < inside.height; ++y)
    std::copy_n(&scaled->rgba[static_cast<std::size_t>(y) * inside.width * 4],
                static_cast<std::size_t>(inside.width) * 4,
                &boxed.rgba[(static_cast<std::size_t>(y + inside.y) * width + inside.x) * 4]);
  return std::make_shared<const Bitmap>(std::move(boxed));
}

}  // namespace moviletta
