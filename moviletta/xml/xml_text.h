// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace moviletta {

// `text` as XML character data: "&", "<", ">", '"' and "'" become references; control characters
// that XML cannot carry are dropped (tab and line feed stay, a carriage return becomes "&#13;",
// which a reader does not normalise away); bytes that are not
// UTF-8 become U+FFFD. A reader gets back exactly the text given, less what XML cannot hold.
std::string XmlEscape(std::string_view text);

// "<name>" + escaped value + "</name>".
std::string XmlLeaf(std::string_view name, std::string_view value);

}  // namespace moviletta
