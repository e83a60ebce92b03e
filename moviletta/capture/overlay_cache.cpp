// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/overlay_cache.h"

#include "moviletta/capture/bitmap_scale.h"

namespace moviletta {

std::shared_ptr<const PreparedOverlay> OverlayCache::Prepare(BitmapHandle picture, int32_t x,
                                                             int32_t y, int32_t transparent,
                                                             int32_t width, int32_t height,
                                                             int32_t frame_width,
                                                             int32_t frame_height) {
  if (!picture) return nullptr;
  const Key key(picture.get(), x, y, transparent, width, height, frame_width, frame_height);
  if (const auto found = kept_.find(key); found != kept_.end()) return found->second.overlay;
  std::erase_if(kept_, [this](const auto& entry) {
    const bool unheld = entry.second.picture.use_count() == 1;
    if (unheld) bytes_ -= entry.second.overlay->bytes();
    return unheld;
  });
  const auto scaled = [](int32_t v, int32_t to, int32_t from) {
    return static_cast<int32_t>(int64_t{v} * to / from);
  };
  const BitmapHandle sized =
      ScaleBitmap(picture, scaled(picture->width, frame_width, width),
                  scaled(picture->height, frame_height, height), Scaling::kNearest);
  auto prepared = std::make_shared<const PreparedOverlay>(*sized, scaled(x, frame_width, width),
                                                          scaled(y, frame_height, height),
                                                          transparent, frame_width, frame_height);
  if (bytes_ + prepared->bytes() > bound_) {
    kept_.clear();
    bytes_ = 0;
  }
  if (prepared->bytes() <= bound_) {
    kept_.emplace(key, Kept{std::move(picture), prepared});
    bytes_ += prepared->bytes();
  }
  return prepared;
}

}  // namespace moviletta
