// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/skin_answer.h"

#include <vector>

#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"
#include "moviletta/skins/skin_cache.h"

namespace moviletta {
namespace {

std::vector<std::string> SplitAnswer(const std::string& answer) {
  std::vector<std::string> fields;
  if (answer.empty()) return fields;
  std::size_t start = 0;
  for (std::size_t comma; (comma = answer.find(',', start)) != std::string::npos; start = comma + 1)
    fields.push_back(answer.substr(start, comma - start));
  fields.push_back(answer.substr(start));
  return fields;
}

const std::string& Field(const std::vector<std::string>& fields, std::size_t index) {
  if (index >= fields.size())
    throw Error(err::kSubscriptOutOfRange, "the skin answer has no field " + std::to_string(index));
  return fields[index];
}

}  // namespace

SkinAnswer ReadSkinAnswer(const std::string& answer, std::string& section) {
  const std::vector<std::string> fields = SplitAnswer(answer);
  SkinAnswer read;
  read.kind = Field(fields, 0);
  if (read.kind == kKindSkin) {
    section = "SKIN_TYPE_SKIN";
    read.path = Field(fields, 1);
    read.count = TextToLong(Field(fields, 2));
    if (read.count < 0 || read.count > kMaxSkinFrames)
      throw Error(err::kInvalidArgument, "frame count " + std::to_string(read.count) +
                                             " outside 0.." + std::to_string(kMaxSkinFrames));
  } else if (read.kind == kKindStatic) {
    section = "SKIN_TYPE_STATIC";
    read.path = Field(fields, 1);
  } else if (read.kind == kKindNone) {
    section = "SKIN_TYPE_NONE";
  }
  return read;
}

}  // namespace moviletta
