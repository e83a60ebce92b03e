// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace moviletta {

// Which file `path` names now, as text: its device, inode, size and modification time; "missing"
// when there is none. Two equal texts mean an unchanged file.
std::string FileIdentity(const std::string& path);

}  // namespace moviletta
