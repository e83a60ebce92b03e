// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Owners of libcurl handles. Implementation files only: public headers stay free of curl.
#include <curl/curl.h>

#include <memory>

namespace moviletta::curl {

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MimeDeleter {
  void operator()(curl_mime* m) const { curl_mime_free(m); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;
using Mime = std::unique_ptr<curl_mime, MimeDeleter>;

// Appends `line` to `list`; returns false when out of memory (the list is kept).
inline bool Append(List& list, const char* line) {
  curl_slist* grown = curl_slist_append(list.get(), line);
  if (!grown) return false;
  list.release();
  list.reset(grown);
  return true;
}

// curl_easy_setopt, telling whether libcurl took the option (it refuses one it was built
// without, such as TLS, and fails when out of memory).
template <class T>
bool Set(CURL* h, CURLoption option, T value) {
  return curl_easy_setopt(h, option, value) == CURLE_OK;
}

}  // namespace moviletta::curl
