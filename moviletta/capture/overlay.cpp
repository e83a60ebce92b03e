// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/capture/overlay.h"

#include <algorithm>
#include <cstring>

namespace moviletta {

PreparedOverlay::PreparedOverlay(const Bitmap& picture, int32_t x, int32_t y, int32_t transparent,
                                 int width, int height)
    : x_(x), y_(y) {
  const uint8_t key[3] = {static_cast<uint8_t>(transparent & 0xFF),
                          static_cast<uint8_t>((transparent >> 8) & 0xFF),
                          static_cast<uint8_t>((transparent >> 16) & 0xFF)};
  const auto shows = [&](const uint8_t* p) {
    return p[3] != 0 && !(p[0] == key[0] && p[1] == key[1] && p[2] == key[2]);
  };
  const int64_t first_row = std::max<int64_t>(0, -int64_t{y});
  const int64_t last_row = std::min<int64_t>(picture.height, int64_t{height} - y);
  const int64_t first_col = std::max<int64_t>(0, -int64_t{x});
  const int64_t last_col = std::min<int64_t>(picture.width, int64_t{width} - x);
  for (int64_t row = first_row; row < last_row; ++row) {
    const uint8_t* pixels = &picture.rgba[static_cast<std::size_t>(row * picture.width * 4)];
    for (int64_t col = first_col; col < last_col;) {
      if (!shows(pixels + col * 4)) {
        ++col;
        continue;
      }
      const int64_t begin = col;
      while (col < last_col && shows(pixels + col * 4)) ++col;
      spans_.push_back({static_cast<int32_t>(row), static_cast<int32_t>(begin),
                        static_cast<int32_t>(col), pixels_.size()});
      pixels_.insert(pixels_.end(), pixels + begin * 4, pixels + col * 4);
    }
  }
  spans_.shrink_to_fit();
  pixels_.shrink_to_fit();
}

void PreparedOverlay::Composite(uint8_t* frame, int width, int height) const {
  for (const Span& span : spans_) {
    const int32_t y = y_ + span.row;
    if (y < 0 || y >= height) continue;
    const int32_t begin = std::max(x_ + span.begin, 0);
    const int32_t end = std::min(x_ + span.end, width);
    if (begin >= end) continue;
    const uint8_t* source =
        &pixels_[span.offset + static_cast<std::size_t>(begin - x_ - span.begin) * 4];
    std::memcpy(frame + (static_cast<std::size_t>(y) * width + begin) * 4, source,
                static_cast<std::size_t>(end - begin) * 4);
  }
}

void MirrorRows(uint8_t* rgba, int width, int height) {
  auto* pixels = reinterpret_cast<uint32_t*>(rgba);
  for (int y = 0; y < height; ++y) std::reverse(pixels + y * width, pixels + (y + 1) * width);
}

}  // namespace moviletta
