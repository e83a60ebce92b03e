// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting server's skin answers: what is accepted is exactly what the answer says, and
// written back it reads the same.
#include <string>

#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"
#include "moviletta/skins/skin_answer.h"
#include "moviletta/skins/skin_cache.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta;
  const std::string answer(reinterpret_cast<const char*>(data), size);
  std::string section;
  try {
    const SkinAnswer read = ReadSkinAnswer(answer, section);
    FUZZ_CHECK(answer.starts_with(read.kind));
    FUZZ_CHECK(read.kind.find(',') == std::string::npos);
    FUZZ_CHECK(read.path.find(',') == std::string::npos);
    if (read.kind == kKindSkin) {
      FUZZ_CHECK(section == "SKIN_TYPE_SKIN");
      FUZZ_CHECK(read.count >= 0 && read.count <= kMaxSkinFrames);
      const std::string count = answer.substr(answer.find(',', 5) + 1);
      FUZZ_CHECK(TextToLong(count.substr(0, count.find(','))) == read.count);
      std::string again;
      FUZZ_CHECK(ReadSkinAnswer("SKIN," + read.path + "," + std::to_string(read.count), again) ==
                 read);
    } else if (read.kind == kKindStatic) {
      FUZZ_CHECK(section == "SKIN_TYPE_STATIC");
      FUZZ_CHECK(answer.starts_with("STATIC," + read.path));
      FUZZ_CHECK(read.count == 0);
    } else {
      FUZZ_CHECK(read.path.empty() && read.count == 0);
      FUZZ_CHECK(section == (read.kind == kKindNone ? "SKIN_TYPE_NONE" : ""));
    }
  } catch (const Error& e) {
    const int32_t n = e.number();
    FUZZ_CHECK(n == err::kSubscriptOutOfRange || n == err::kTypeMismatch || n == err::kOverflow ||
               n == err::kInvalidArgument);
    if (n != err::kSubscriptOutOfRange) FUZZ_CHECK(answer.starts_with("SKIN,"));
  }
  return 0;
}
