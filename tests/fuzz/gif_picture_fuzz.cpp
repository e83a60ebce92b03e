// SPDX-License-Identifier: GPL-3.0-or-later
// The GIF loader: any bytes give a picture of the file's logical screen or Error 481, and a
// picture's pixels are either its colours or fully transparent.
#include <string_view>

#include "moviletta/common/error.h"
#include "moviletta/skins/gif_picture.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const BitmapHandle picture = LoadGifPictureBytes(bytes, "fuzz.gif");
    FUZZ_CHECK(picture != nullptr);
    FUZZ_CHECK(size >= 13 && bytes.starts_with("GIF"));
    FUZZ_CHECK(picture->width == (data[6] | data[7] << 8));
    FUZZ_CHECK(picture->height == (data[8] | data[9] << 8));
    FUZZ_CHECK(picture->width >= 1 && picture->width <= kMaxGifSide);
    FUZZ_CHECK(picture->height >= 1 && picture->height <= kMaxGifSide);
    FUZZ_CHECK(picture->rgba.size() ==
               static_cast<std::size_t>(picture->width) * picture->height * 4);
    for (std::size_t i = 0; i < picture->rgba.size(); i += 4) {
      const uint8_t alpha = picture->rgba[i + 3];
      FUZZ_CHECK(alpha == 0 || alpha == 255);
      if (alpha == 0)
        FUZZ_CHECK(picture->rgba[i] == 0 && picture->rgba[i + 1] == 0 && picture->rgba[i + 2] == 0);
    }
  } catch (const Error& e) {
    FUZZ_CHECK(e.number() == err::kInvalidPicture);
  }
  return 0;
}
