// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "moviletta/server/http_client.h"

namespace moviletta {

// Clients on libcurl: one easy handle per client, so consecutive requests reuse the connection.
class CurlHttpClientFactory : public HttpClientFactory {
 public:
  explicit CurlHttpClientFactory(HttpOptions options = {});
  std::unique_ptr<HttpClient> Create() override;

 private:
  HttpOptions options_;
};

}  // namespace moviletta
