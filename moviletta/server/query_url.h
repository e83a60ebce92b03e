// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace moviletta {

// Builds "base?key=value&key=value". Keys are appended as given; every value is percent-encoded
// (all but the URL-unreserved characters), so "&", "=", "?", spaces and line breaks in a value
// reach the server intact.
class QueryUrl {
 public:
  explicit QueryUrl(std::string base) : url_(std::move(base)) {}

  QueryUrl& Add(std::string_view key, std::string_view value);
  const std::string& str() const { return url_; }

 private:
  std::string url_;
  bool has_query_ = false;
};

// Percent-encodes everything outside A-Z a-z 0-9 "-" "." "_" "~".
std::string PercentEncode(std::string_view value);

}  // namespace moviletta
