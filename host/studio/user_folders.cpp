// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/user_folders.h"

namespace moviletta::web {

std::optional<UserFolders> UserFoldersFrom(const std::function<const char*(const char*)>& env) {
  const char* home = env("HOME");
  const auto base = [&](const char* variable,
                        const char* below_home) -> std::optional<std::string> {
    const char* value = env(variable);
    if (value && value[0] == '/') return std::string(value);
    if (home && home[0] == '/') return std::string(home) + below_home;
    return std::nullopt;
  };
  const std::optional<std::string> data = base("XDG_DATA_HOME", "/.local/share");
  const std::optional<std::string> config = base("XDG_CONFIG_HOME", "/.config");
  if (!data || !config) return std::nullopt;
  return UserFolders{*data + "/moviletta", *config + "/moviletta/studio.conf"};
}

}  // namespace moviletta::web
