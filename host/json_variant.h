#pragma once

#include <nlohmann/json.hpp>

#include "moviletta/common/variant.h"

namespace moviletta::web {

// Variants as JSON values and back: empty is null; Booleans, numbers and texts are themselves;
// integers outside 32 bits become doubles; arrays and objects become empty.
nlohmann::json ToJsonValue(const Variant& value);
Variant FromJsonValue(const nlohmann::json& value);

}  // namespace moviletta::web
