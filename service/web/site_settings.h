// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "service/store/store.h"

namespace moviletta::service {

using SettingsValues = std::map<std::string, std::string>;  // element name: text

// A site's host name without its port ("greetings.example.org:8080" gives
// "greetings.example.org").
std::string HostName(const std::string& host);

// The settings a new site starts with: a studio works with them at once, its mail going to
// greetings@ the site's host name on port 25. `host` is the site's (its port is dropped).
SettingsValues DefaultSettings(const std::string& host);

// The site of `host` in `store`, added with DefaultSettings(host) when it is new.
int64_t MakeSite(Store& store, const std::string& host);

// Checks `values` as the studio reads them (numbers as its conversion reads them and within
// the ranges it keeps: FPS 1-60, SECLIMIT 1-3600; addresses well formed; OUTPUT "wmv" or
// "mpg"; the service's own settings as they are described below). Returns "" when every value
// is good, else why the first bad one is refused, naming its field. Fields it does not know are
// refused too.
std::string RefusedSetting(const SettingsValues& values);

// The settings of a site that are the service's own, not the studio's: how the site's greetings
// reach their recipients. Kept beside the studio's, never in the settings document.
//   RELAY       the outgoing mail relay, "smtp://HOST:PORT" ("": the one `serve`/`work` name)
//   SMSGATEWAY  "{number}@GATEWAY": mobile numbers get a text through it ("": the command's)
//   KEEPDAYS    days a greeting is kept before its video and personal data are deleted (90)
struct ServiceSetting {
  const char* element;
  const char* label;
};
const std::vector<ServiceSetting>& ServiceSettings();
inline constexpr int kDefaultKeepDays = 90;

// The settings document the studio reads at "/clientSettings.asp": every field, in the order it
// reads them; `stored` over the defaults, and the service's own addresses at `self`
// ("http://host:port") for DOWNLOAD, REGISTER and SKIN when they are not set.
std::string SettingsDocument(const SettingsValues& stored, const std::string& self);

}  // namespace moviletta::service
