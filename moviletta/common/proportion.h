// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace moviletta {

// A part of a picture: its left and top edges and its size, in pixels.
struct PictureCrop {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool operator==(const PictureCrop&) const = default;
};

// The largest part of a `width` x `height` picture with the proportions of `shape_width` x
// `shape_height`, in its centre: what is kept when a camera's picture of another shape is made
// the greeting's shape, never stretched. Sides and edges are even numbers (chroma planes are half
// the size), at least 2; the whole picture when a shape is not positive.
PictureCrop CentredCrop(int width, int height, int shape_width, int shape_height);

// Where a `width` x `height` picture goes in a `box_width` x `box_height` one: as large as fits
// in its own proportions, in the middle, the rest left for bars. Even sides and edges, at least 2;
// the whole box when a size is not positive.
PictureCrop CentredFit(int width, int height, int box_width, int box_height);

}  // namespace moviletta
