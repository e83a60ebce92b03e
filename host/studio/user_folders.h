// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace moviletta::web {

// Where the studio keeps a user's things, after the XDG base directories: its data (skins, the
// outbox, the allowed sites, the launch token, the stored properties) in
// $XDG_DATA_HOME/moviletta, by default ~/.local/share/moviletta; its settings in
// $XDG_CONFIG_HOME/moviletta/studio.conf, by default ~/.config/moviletta/studio.conf. A relative
// XDG value counts as unset, as the XDG rules say.
struct UserFolders {
  std::string data;
  std::string settings_file;
};

// The folders for the environment `env` reads (a variable's value, or null); nothing when
// neither HOME nor both XDG values are set.
std::optional<UserFolders> UserFoldersFrom(const std::function<const char*(const char*)>& env);

}  // namespace moviletta::web
