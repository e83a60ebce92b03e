// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/skin_check.h"

#include "moviletta/common/error.h"
#include "moviletta/skins/gif_picture.h"
#include "service/web/field_text.h"

namespace moviletta::service {
namespace {

constexpr std::size_t kMaxFrames = 120;
constexpr std::size_t kMaxPictureBytes = std::size_t{2} << 20;
constexpr std::size_t kMaxDecodedBytes = std::size_t{16} << 20;

}  // namespace

std::string RefusedSkin(const Skin& skin, const std::vector<GivenPicture>& pictures) {
  if (skin.id < 0 || skin.id > 100000) return "its number must be from 0 to 100000.";
  if (skin.name.empty() || skin.name.size() > 100 || KeptText(skin.name) != skin.name ||
      skin.name.find_first_of("\r\n") != std::string::npos)
    return "its name must be 1 to 100 characters of text on one line.";
  if (skin.kind != "SKIN" && skin.kind != "STATIC") return "its kind must be animated or static.";
  if (pictures.empty()) return "no GIF picture was given.";
  if (skin.kind == "STATIC" && pictures.size() != 1) return "a static skin is one picture.";
  if (pictures.size() > kMaxFrames) return "an animated skin has at most 120 frames.";
  for (const auto& [name, bytes] : pictures) {
    if (bytes.size() > kMaxPictureBytes) return KeptText(name, 200) + " is larger than 2 MiB.";
    try {
      LoadGifPictureBytes(bytes, name, kMaxDecodedBytes);
    } catch (const Error& e) {
      return KeptText(name, 200) + " is not a picture a skin may have (" + e.description() + ").";
    }
  }
  return "";
}

}  // namespace moviletta::service
