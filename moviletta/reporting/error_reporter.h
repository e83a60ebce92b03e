// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "moviletta/common/error.h"
#include "moviletta/server/greeting_server.h"

namespace moviletta {

// Sends trapped failures to the greeting server's error log. Host thread only; the report is
// synchronous. The server must outlive the reporter.
class ErrorReporter {
 public:
  explicit ErrorReporter(GreetingServer& server) : server_(server) {}

  // One report with the six texts in their order. The response is not read. Throws Error when
  // the report cannot be delivered; that failure belongs to the caller of the failing procedure.
  void ReportError(std::string_view function, std::string_view section, std::string_view code,
                   std::string_view description, std::string_view source,
                   std::string_view add_info);

  // Reports `failure` as raised in `function` while `section` was in force.
  void ReportError(std::string_view function, std::string_view section, const Error& failure);

 private:
  GreetingServer& server_;
};

}  // namespace moviletta
