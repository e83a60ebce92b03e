// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/gif_picture.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "moviletta/common/error.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.GifPicture";

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int ignored = 0;
    DGifCloseFile(gif, &ignored);
  }
};
using GifFile = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void Invalid(const std::string& path, const std::string& why) {
  throw Error(err::kInvalidPicture, "Invalid picture: " + path + " (" + why + ")", kSource);
}

// Skips one extension block. For a graphic control block, returns the transparent colour index
// it names (-1 for none) for the picture that follows.
std::optional<int> ReadExtension(GifFileType* gif, const std::string& path) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) Invalid(path, "truncated extension");
  std::optional<int> transparent;
  if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
    GraphicsControlBlock gcb{};
    if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
  }
  while (block) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) Invalid(path, "truncated extension");
  }
  return transparent;
}

// Decodes the picture row by row straight into a bitmap of the logical screen's size.
Bitmap ReadPicture(GifFileType* gif, int transparent, const std::string& path) {
  if (DGifGetImageDesc(gif) != GIF_OK) Invalid(path, "truncated picture header");
  const GifImageDesc& desc = gif->Image;
  if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0 ||
      desc.Left + desc.Width > gif->SWidth || desc.Top + desc.Height > gif->SHeight)
    Invalid(path, "picture outside the logical screen");
  const ColorMapObject* colours = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!colours || colours->ColorCount <= 0) Invalid(path, "no colour map");

  Bitmap bitmap{gif->SWidth, gif->SHeight, {}};
  bitmap.rgba.assign(static_cast<std::size_t>(bitmap.width) * bitmap.height * 4, 0);
  std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
  const auto read_row = [&](int row) {
    if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK)
      Invalid(path, "truncated picture data");
    uint8_t* pixel = &bitmap.rgba[(static_cast<std::size_t>(desc.Top + row) * bitmap.width +
                                   static_cast<std::size_t>(desc.Left)) *
                                  4];
    for (const GifPixelType index : line) {
      if (index >= colours->ColorCount) Invalid(path, "colour index beyond the colour map");
      if (index != transparent) {
        const GifColorType& c = colours->Colors[index];
        pixel[0] = c.Red, pixel[1] = c.Green, pixel[2] = c.Blue, pixel[3] = 255;
      }
      pixel += 4;
    }
  };
  if (desc.Interlace) {
    constexpr std::array kOffsets{0, 4, 2, 1};
    constexpr std::array kJumps{8, 8, 4, 2};
    for (std::size_t pass = 0; pass < 4; ++pass)
      for (int row = kOffsets[pass]; row < desc.Height; row += kJumps[pass]) read_row(row);
  } else {
    for (int row = 0; row < desc.Height; ++row) read_row(row);
  }
  return bitmap;
}

// giflib's reader over bytes in memory; `UserData` is the remaining std::string_view.
int ReadBytes(GifFileType* gif, GifByteType* into, int wanted) {
  auto* rest = static_cast<std::string_view*>(gif->UserData);
  const std::size_t count = std::min(rest->size(), static_cast<std::size_t>(std::max(wanted, 0)));
  std::memcpy(into, rest->data(), count);
  rest->remove_prefix(count);
  return static_cast<int>(count);
}

}  // namespace

BitmapHandle LoadGifPicture(const std::string& path, std::size_t max_bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw Error(err::kFileNotFound, "File not found: " + path, kSource);
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in && !in.eof()) Invalid(path, "cannot read");
  return LoadGifPictureBytes(bytes, path, max_bytes);
}

BitmapHandle LoadGifPictureBytes(std::string_view bytes, const std::string& path,
                                 std::size_t max_bytes) {
  int error = 0;
  GifFile gif(DGifOpen(&bytes, ReadBytes, &error));
  if (!gif) Invalid(path, GifErrorString(error) ? GifErrorString(error) : "cannot open");
  if (gif->SWidth <= 0 || gif->SHeight <= 0 || gif->SWidth > kMaxGifSide ||
      gif->SHeight > kMaxGifSide)
    Invalid(path, "logical screen of " + std::to_string(gif->SWidth) + " x " +
                      std::to_string(gif->SHeight));
  const int64_t pixels = int64_t{gif->SWidth} * gif->SHeight;
  if (pixels > kMaxGifPixels)
    Invalid(path, "logical screen of " + std::to_string(pixels) + " pixels");
  if (static_cast<std::size_t>(pixels) * 4 > max_bytes)
    throw Error(err::kOutOfMemory,
                "Out of memory: " + path + " would take " + std::to_string((pixels * 4) >> 10) +
                    " KiB, more than the " + std::to_string(max_bytes >> 10) + " KiB left",
                kSource);

  int transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) != GIF_OK) Invalid(path, "truncated file");
    switch (type) {
      case EXTENSION_RECORD_TYPE:
        transparent = ReadExtension(gif.get(), path).value_or(transparent);
        break;
      case IMAGE_DESC_RECORD_TYPE:
        return std::make_shared<const Bitmap>(ReadPicture(gif.get(), transparent, path));
      case TERMINATE_RECORD_TYPE:
        Invalid(path, "no picture");
      default:
        Invalid(path, "unknown record");
    }
  }
}

}  // namespace moviletta
