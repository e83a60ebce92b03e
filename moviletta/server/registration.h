// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "moviletta/server/client_settings.h"
#include "moviletta/server/greeting_server.h"

namespace moviletta {

// Announces the installation at the REGISTER address and returns the server's answer, keeping
// `section` on the step in progress. Throws Error when the request fails.
std::string AnnounceInstallation(GreetingServer& server, const ClientSettings& settings,
                                 std::string& section);

}  // namespace moviletta
