// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace moviletta::service {

// The numbers of the store's failures (moviletta::Error, source "Store").
inline constexpr int32_t kErrDatabase = 3001;  // the database failed or cannot be reached
inline constexpr int32_t kErrTaken = 3002;     // a name or key that must be unique is taken

}  // namespace moviletta::service
