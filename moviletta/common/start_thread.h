// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string_view>
#include <thread>

namespace moviletta {

// Starts `body` on a new thread. When the machine cannot start one, throws Error
// kComponentFailed "cannot start <what>: <reason>" from `source` instead of std::system_error,
// so the component's caller sees it as the component's failure.
std::thread StartThread(std::function<void()> body, std::string_view what, const char* source);

}  // namespace moviletta
