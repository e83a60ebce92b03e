// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include "moviletta/common/bitmap.h"

namespace moviletta {

// A skin picture made ready for compositing once, when it is laid over the picture: per row, the
// spans of pixels that show, with a copy of those pixels. Compositing a frame then only copies
// those spans. Immutable after construction, so any thread may composite with it.
class PreparedOverlay {
 public:
  // Pixels with alpha 0, or whose colour is `transparent` (0x00BBGGRR, red in the low byte),
  // stay see-through. Only what falls on a picture of `width` x `height` is kept, the size of the
  // frames it is laid over. Keeps nothing of `picture`.
  PreparedOverlay(const Bitmap& picture, int32_t x, int32_t y, int32_t transparent, int width,
                  int height);

  // Lays the overlay over `frame`, an RGBA picture of `width` x `height`, clipping at its edges.
  void Composite(uint8_t* frame, int width, int height) const;

  // Number of spans; tells how much work a frame costs.
  std::size_t spans() const { return spans_.size(); }
  // The memory the overlay takes.
  std::size_t bytes() const { return spans_.capacity() * sizeof(Span) + pixels_.capacity(); }

 private:
  struct Span {
    int32_t row;
    int32_t begin;
    int32_t end;
    std::size_t offset;  // of its first pixel in pixels_
  };

  int32_t x_;
  int32_t y_;
  std::vector<Span> spans_;
  std::vector<uint8_t> pixels_;  // RGBA, the spans' pixels one after another
};

// Mirrors an RGBA picture left to right, in place.
void MirrorRows(uint8_t* rgba, int width, int height);

}  // namespace moviletta
