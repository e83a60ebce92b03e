// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "service/store/store.h"

namespace moviletta::service {

// A picture given for a skin: its file name (for the refusal) and its bytes.
using GivenPicture = std::pair<std::string, std::string>;

// Why `skin` with `pictures` (frame 1 first) cannot be kept, or "" when it can: its number
// (0 to 100000, 100000 being the picture shown while a skin downloads), name (1 to 100
// characters of text), kind (SKIN or STATIC: one picture), and each picture checked with the
// studio's own GIF reader and its limits (2 MiB a file, 16 MiB decoded, at most 120 frames).
std::string RefusedSkin(const Skin& skin, const std::vector<GivenPicture>& pictures);

}  // namespace moviletta::service
