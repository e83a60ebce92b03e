// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/start_thread.h"

#include <string>
#include <system_error>

#include "moviletta/common/error.h"

namespace moviletta {

std::thread StartThread(std::function<void()> body, std::string_view what, const char* source) {
  try {
    return std::thread(std::move(body));
  } catch (const std::system_error& e) {
    throw Error(err::kComponentFailed, "cannot start " + std::string(what) + ": " + e.what(),
                source);
  }
}

}  // namespace moviletta
