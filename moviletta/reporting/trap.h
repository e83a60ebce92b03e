// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "moviletta/common/error.h"
#include "moviletta/common/thread_annotations.h"
#include "moviletta/reporting/error_reporter.h"

namespace moviletta {

// The error trap of one procedure: its name and its section string, the label of the step in
// progress. Usage:
//
//   Trap trap(reporter_, "LoadClientSettings");
//   trap.Run([&] { trap.section = "step one"; ...; });
//
// A failure inside the body is reported with the name and the section in force, and the
// procedure goes on after Run. If the report itself fails, that failure leaves Run and belongs
// to the caller, whose own trap (if any) reports it under its own name.
class Trap {
 public:
  Trap(ErrorReporter& reporter, std::string_view function)
      : reporter_(reporter), function_(function) {}

  std::string section;

  // Returns true when `body` completed, false when it failed and the failure was reported. The
  // body runs on the caller's thread with what the caller holds: a lambda may say what it
  // REQUIRES.
  template <class Body>
  bool Run(Body&& body) NO_THREAD_SAFETY_ANALYSIS {
    try {
      std::forward<Body>(body)();
      return true;
    } catch (...) {
      reporter_.ReportError(function_, section, Error::FromCurrent());
    }
    return false;
  }

 private:
  ErrorReporter& reporter_;
  std::string_view function_;
};

}  // namespace moviletta
