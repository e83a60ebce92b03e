// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace moviletta {

// The largest frame count a skin answer may give.
inline constexpr int32_t kMaxSkinFrames = 10000;

// The greeting server's answer about one skin, in its parts.
struct SkinAnswer {
  std::string kind;   // the first field as given: "SKIN", "STATIC", "NONE" or a word to ignore
  std::string path;   // the pictures' path below DOWNLOAD, for "SKIN" and "STATIC"
  int32_t count = 0;  // the number of frames, for "SKIN"

  friend bool operator==(const SkinAnswer&, const SkinAnswer&) = default;
};

// Reads "SKIN,<path>,<count>", "STATIC,<path>" or "NONE" (fields after the needed ones are
// ignored). `section` becomes "SKIN_TYPE_SKIN", "SKIN_TYPE_STATIC" or "SKIN_TYPE_NONE" once the
// kind is known. Throws Error 9 for a missing field, 13 or 6 for a count that is not a 32-bit
// number and 5 for a count outside 0 to kMaxSkinFrames.
SkinAnswer ReadSkinAnswer(const std::string& answer, std::string& section);

}  // namespace moviletta
