// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "moviletta/server/http_client.h"
#include "moviletta/server/identity.h"

namespace moviletta {

// The greeting server as the control talks to it: the fixed address, the query keys every
// request shares and the synchronous requests themselves. Host thread only.
class GreetingServer {
 public:
  using Keys = std::initializer_list<std::pair<std::string_view, std::string>>;

  // `http` and `identity` must outlive the server object.
  GreetingServer(std::string address, HttpClientFactory& http, Identity& identity);

  // `base`, "?sPassword=" and the password, the `keys` in order, then "&sRnd=" and a new token.
  std::string Address(std::string base, Keys keys);
  // The fixed address below the server, e.g. Path("/clientSettings.asp").
  std::string Path(std::string_view path) const { return address_ + std::string(path); }

  // One GET on a client made for it. Throws Error when the request fails.
  HttpResponse Get(const std::string& url, const std::vector<HttpHeader>& headers = {});

  HttpClientFactory& http() { return http_; }
  Identity& identity() { return identity_; }

 private:
  std::string address_;
  HttpClientFactory& http_;
  Identity& identity_;
};

}  // namespace moviletta
