// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "moviletta/common/bitmap.h"

namespace moviletta {

// The largest logical screen side a skin picture may have, and the most pixels it may cover
// (2048 x 2048, 16 MiB decoded: more than a skin laid over an HD picture needs).
inline constexpr int32_t kMaxGifSide = 4096;
inline constexpr int64_t kMaxGifPixels = int64_t{2048} * 2048;

// Decodes the first picture of a GIF file into an RGBA bitmap of the file's logical screen size.
// Pixels outside that picture and pixels of its transparent colour index get alpha 0.
// Throws Error 53 when the file is missing and Error 481 when it is not a picture this loader
// accepts: not a GIF, truncated, no picture, zero or oversize dimensions, a picture outside the
// logical screen, no colour map, or a colour index beyond the map. Throws Error 7 when the
// decoded bitmap would take more than `max_bytes`, as the file's header tells before anything
// is decoded.
BitmapHandle LoadGifPicture(const std::string& path, std::size_t max_bytes = SIZE_MAX);

// The same for a file's bytes in memory; `path` only names it in errors.
BitmapHandle LoadGifPictureBytes(std::string_view bytes, const std::string& path,
                                 std::size_t max_bytes = SIZE_MAX);

}  // namespace moviletta
