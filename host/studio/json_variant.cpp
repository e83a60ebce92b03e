// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/json_variant.h"

#include <cstdint>

#include "moviletta/common/error.h"

namespace moviletta::web {

nlohmann::json ToJsonValue(const Variant& value) {
  return std::visit(
      [](const auto& v) -> nlohmann::json {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>)
          return nullptr;
        else
          return v;
      },
      value.value());
}

std::string JsonText(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Variant FromJsonValue(const nlohmann::json& value) {
  if (value.is_boolean()) return Variant(value.get<bool>());
  if (value.is_number_unsigned()) {
    const uint64_t number = value.get<uint64_t>();
    return number <= INT32_MAX ? Variant(static_cast<int32_t>(number))
                               : Variant(static_cast<double>(number));  // too big: refused later
  }
  if (value.is_number_integer() && value.get<int64_t>() >= INT32_MIN &&
      value.get<int64_t>() <= INT32_MAX)
    return Variant(static_cast<int32_t>(value.get<int64_t>()));
  if (value.is_number()) return Variant(value.get<double>());
  if (value.is_string()) return Variant(value.get<std::string>());
  return Variant();
}

std::optional<std::vector<Variant>> ReadCallArguments(std::string_view body) {
  if (body.empty()) return std::vector<Variant>();
  // nlohmann's parser would stop at a NUL byte as at the end of the text.
  if (body.find('\0') != std::string_view::npos) return std::nullopt;
  const nlohmann::json values = nlohmann::json::parse(body, nullptr, false);
  if (!values.is_array()) return std::nullopt;
  if (values.size() > kMaxArguments)
    throw Error(err::kWrongArgumentCount, "Wrong number of arguments");
  std::vector<Variant> args;
  args.reserve(values.size());
  for (const nlohmann::json& value : values) args.push_back(FromJsonValue(value));
  return args;
}

}  // namespace moviletta::web
