// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/registration.h"

namespace moviletta {

std::string AnnounceInstallation(GreetingServer& server, const ClientSettings& settings,
                                 std::string& section) {
  Identity& identity = server.identity();
  const std::string url =
      server.Address(settings.REGISTER, {{"sInstallationID", identity.ComputeInstallationID()},
                                         {"sCurrentVersion", Identity::GetClientVersion()}});
  section = "set URL: " + url;
  const HttpResponse response = server.Get(url, {{"Content-type", "text"}});
  section = "sent. xmlHTTP.responseText: " + response.body;
  return response.body;
}

}  // namespace moviletta
