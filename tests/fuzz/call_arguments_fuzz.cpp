// SPDX-License-Identifier: GPL-3.0-or-later
// The page's call bodies: a body is refused, or its values arrive as variants that mean what the
// JSON said; whatever comes back to the page is valid JSON.
#include <cmath>
#include <string_view>

#include "host/studio/json_variant.h"
#include "moviletta/common/error.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using nlohmann::json;

void CheckValue(const json& given, const moviletta::Variant& read) {
  const json back = moviletta::web::ToJsonValue(read);
  if (given.is_boolean() || given.is_string()) {
    FUZZ_CHECK(back == given);
  } else if (given.is_number_integer() && given.get<double>() >= INT32_MIN &&
             given.get<double>() <= INT32_MAX) {
    FUZZ_CHECK(std::holds_alternative<int32_t>(read.value()));
    FUZZ_CHECK(back.get<int64_t>() == given.get<int64_t>());
  } else if (given.is_number()) {
    FUZZ_CHECK(std::holds_alternative<double>(read.value()));
    FUZZ_CHECK(back.get<double>() == given.get<double>());
  } else {
    FUZZ_CHECK(back.is_null());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const bool has_nul = body.find('\0') != std::string_view::npos;
  const json parsed = has_nul ? json() : json::parse(body, nullptr, false);
  try {
    const std::optional<std::vector<Variant>> args = web::ReadCallArguments(body);
    if (!args) {
      FUZZ_CHECK(!body.empty() && (has_nul || !parsed.is_array()));
      return 0;
    }
    FUZZ_CHECK(body.empty() || (parsed.is_array() && parsed.size() == args->size()));
    FUZZ_CHECK(args->size() <= web::kMaxArguments);
    json answer = json::array();
    for (std::size_t i = 0; i < args->size(); ++i) {
      CheckValue(parsed[i], (*args)[i]);
      answer.push_back(web::ToJsonValue((*args)[i]));
    }
    FUZZ_CHECK(json::parse(web::JsonText(answer)) == answer);
  } catch (const Error& e) {
    FUZZ_CHECK(e.number() == err::kWrongArgumentCount);
    FUZZ_CHECK(parsed.is_array() && parsed.size() > web::kMaxArguments);
  }
  return 0;
}
