#include "host/json_variant.h"

#include <cstdint>

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

}  // namespace moviletta::web
