// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/reporting/error_reporter.h"

#include <string>

#include "moviletta/common/constants.h"

namespace moviletta {

void ErrorReporter::ReportError(std::string_view function, std::string_view section,
                                std::string_view code, std::string_view description,
                                std::string_view source, std::string_view add_info) {
  // A report must not be lost because the identity cannot be read: it then carries "-1".
  std::string installation_id = "-1";
  try {
    installation_id = server_.identity().ComputeInstallationID();
  } catch (...) {
  }
  const std::string url = server_.Address(server_.Path(kErrorLogPath),
                                          {{"sInstallationID", installation_id},
                                           {"sCurrentVersion", Identity::GetClientVersion()},
                                           {"sErrInFunction", std::string(function)},
                                           {"sErrInSection", std::string(section)},
                                           {"sErrCode", std::string(code)},
                                           {"sErrDesc", std::string(description)},
                                           {"sErrSource", std::string(source)},
                                           {"sAddInfo", std::string(add_info)}});
  server_.Get(url);
}

void ErrorReporter::ReportError(std::string_view function, std::string_view section,
                                const Error& failure) {
  ReportError(function, section, std::to_string(failure.number()), failure.description(),
              failure.source(), std::to_string(failure.os_error()));
}

}  // namespace moviletta
