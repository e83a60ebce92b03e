// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/query_url.h"

#include <curl/curl.h>

#include <memory>

#include "moviletta/common/error.h"

namespace moviletta {

std::string PercentEncode(std::string_view value) {
  if (value.empty()) return {};
  std::unique_ptr<char, decltype(&curl_free)> encoded(
      curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size())), &curl_free);
  if (!encoded) throw Error(err::kOutOfMemory);
  return encoded.get();
}

QueryUrl& QueryUrl::Add(std::string_view key, std::string_view value) {
  url_ += has_query_ ? '&' : '?';
  has_query_ = true;
  url_.append(key).append("=").append(PercentEncode(value));
  return *this;
}

}  // namespace moviletta
