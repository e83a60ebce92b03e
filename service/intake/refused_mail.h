// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace moviletta::service {

// A mail that can never be a greeting, with a one-line reason that says which part or limit.
class RefusedMail : public std::runtime_error {
 public:
  explicit RefusedMail(const std::string& reason) : std::runtime_error(reason) {}
};

}  // namespace moviletta::service
