// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <tuple>

#include "moviletta/capture/overlay.h"
#include "moviletta/common/bitmap.h"

namespace moviletta {

// The skin pictures made ready for compositing, each once: an animated skin lays the same frames
// again and again. Kept by picture, placement and sizes, within `bound` bytes of prepared
// overlays; a prepared overlay keeps its picture alive, so a picture's address names the same
// picture while it is here. A picture that no one else holds any longer (another skin has
// loaded) is forgotten before a new one is kept; when the bound would be passed, everything kept
// is forgotten; an overlay larger than the bound is made but not kept.
// Threads: one (the capture device's host thread).
class OverlayCache {
 public:
  explicit OverlayCache(std::size_t bound) : bound_(bound) {}

  // `picture` laid at `x`, `y` on pictures of `width` x `height` (the capture size), made ready
  // for frames of `frame_width` x `frame_height`: picture and placement scaled by the ratio of
  // the two sizes. Null for a null picture.
  std::shared_ptr<const PreparedOverlay> Prepare(BitmapHandle picture, int32_t x, int32_t y,
                                                 int32_t transparent, int32_t width, int32_t height,
                                                 int32_t frame_width, int32_t frame_height);

  // The memory the kept overlays take, and how many there are.
  std::size_t bytes() const { return bytes_; }
  std::size_t size() const { return kept_.size(); }

 private:
  struct Kept {
    BitmapHandle picture;
    std::shared_ptr<const PreparedOverlay> overlay;
  };
  using Key =
      std::tuple<const Bitmap*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t>;

  std::size_t bound_;
  std::map<Key, Kept> kept_;
  std::size_t bytes_ = 0;
};

}  // namespace moviletta
