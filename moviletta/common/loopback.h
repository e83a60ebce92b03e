// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace moviletta {

// Whether `host` (a name or an address, IPv6 in brackets or not, without a port) names this
// machine: "localhost", an IPv4 address of 127.0.0.0/8 or ::1, read as addresses are read, so
// that a name such as "127.example.net" is not taken for one.
bool IsLoopbackHost(std::string_view host);

}  // namespace moviletta
