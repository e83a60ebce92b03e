// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "moviletta/safety/object_safety.h"
#include "moviletta/server/client_settings.h"

namespace moviletta {

// Values shared by every control on one host thread. The host owns one and hands it to each
// control it creates.
struct ModuleState {
  moviletta::ClientSettings ClientSettings;
  int32_t VideoWidth = 0;
  int32_t VideoHeight = 0;
  std::string CaptureExtension;
  // The part of the last recording (the take) that a send compresses, in seconds; end 0: to its
  // end. It goes with the take: a new recording makes it whole.
  double TrimStart = 0;
  double TrimEnd = 0;
  SafetyFlags Safety;
};

}  // namespace moviletta
