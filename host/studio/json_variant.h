// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "moviletta/common/variant.h"

namespace moviletta::web {

// Variants as JSON values and back: empty is null; Booleans, numbers and texts are themselves;
// integers outside 32 bits become doubles; arrays and objects become empty.
// `value` as compact JSON text; bytes of texts that are not UTF-8 become U+FFFD.
std::string JsonText(const nlohmann::json& value);

nlohmann::json ToJsonValue(const Variant& value);
Variant FromJsonValue(const nlohmann::json& value);

// No member takes more than 7 arguments.
inline constexpr std::size_t kMaxArguments = 16;

// A call's arguments from the body the page posts: a JSON array (an empty body is none) of at
// most kMaxArguments values, converted by FromJsonValue. Nothing when the whole body is not one
// JSON array; throws Error 450 for more values, before any is converted.
std::optional<std::vector<Variant>> ReadCallArguments(std::string_view body);

}  // namespace moviletta::web
