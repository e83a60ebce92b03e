// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/greeting_server.h"

#include "moviletta/common/constants.h"
#include "moviletta/server/query_url.h"

namespace moviletta {

GreetingServer::GreetingServer(std::string address, HttpClientFactory& http, Identity& identity)
    : address_(std::move(address)), http_(http), identity_(identity) {}

std::string GreetingServer::Address(std::string base, Keys keys) {
  QueryUrl url(std::move(base));
  url.Add("sPassword", kServerPassword);
  for (const auto& [key, value] : keys) url.Add(key, value);
  url.Add("sRnd", identity_.GenerateRandomToken());
  return url.str();
}

HttpResponse GreetingServer::Get(const std::string& url, const std::vector<HttpHeader>& headers) {
  return http_.Create()->Get(url, headers);
}

}  // namespace moviletta
