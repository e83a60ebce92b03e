// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/proportion.h"

#include <algorithm>
#include <cstdint>

namespace moviletta {
namespace {

// `n` made even, between 2 and `most`.
int Even(int64_t n, int most) {
  return static_cast<int>(std::clamp<int64_t>(n & ~int64_t{1}, 2, std::max(most, 2)));
}

PictureCrop Centred(int width, int height, int kept_width, int kept_height) {
  return {((width - kept_width) / 2) & ~1, ((height - kept_height) / 2) & ~1, kept_width,
          kept_height};
}

}  // namespace

PictureCrop CentredCrop(int width, int height, int shape_width, int shape_height) {
  if (shape_width <= 0 || shape_height <= 0 || width <= 0 || height <= 0)
    return {0, 0, width, height};
  if (int64_t{width} * shape_height > int64_t{height} * shape_width)  // wider: the sides go
    return Centred(width, height, Even(int64_t{height} * shape_width / shape_height, width),
                   height);
  // taller: the top and the bottom go
  return Centred(width, height, width, Even(int64_t{width} * shape_height / shape_width, height));
}

PictureCrop CentredFit(int width, int height, int box_width, int box_height) {
  if (width <= 0 || height <= 0 || box_width <= 0 || box_height <= 0)
    return {0, 0, box_width, box_height};
  if (int64_t{width} * box_height > int64_t{height} * box_width)  // wider: bars above and below
    return Centred(box_width, box_height, box_width,
                   Even(int64_t{box_width} * height / width, box_height));
  return Centred(box_width, box_height, Even(int64_t{box_height} * width / height, box_width),
                 box_height);
}

}  // namespace moviletta
