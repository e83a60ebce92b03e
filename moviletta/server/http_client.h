// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace moviletta {

struct HttpHeader {
  std::string name;
  std::string value;
};

struct HttpResponse {
  long status = 0;
  std::string body;  // the bytes as received; also the response text

  bool ok() const { return status >= 200 && status <= 299; }
};

struct HttpOptions {
  std::chrono::milliseconds connect_timeout{5000};
  std::chrono::milliseconds total_timeout{60000};
  // A request that moves fewer than `low_speed_bytes` a second for `low_speed_time` fails: a
  // silent or dripping server costs that much, a slow but live one keeps going.
  long low_speed_bytes = 64;
  std::chrono::seconds low_speed_time{5};
  std::size_t max_body_bytes = std::size_t{4} << 20;
  // Asked several times a second while a request runs, on the requesting thread; true ends the
  // request at once with a failure (a host that is closing).
  std::function<bool()> cancelled;
};

// A synchronous HTTP client. One client may serve several requests one after another and keeps
// its connection between them. Host thread only.
class HttpClient {
 public:
  virtual ~HttpClient() = default;

  // GET `url` with `headers`; returns once the whole body is in, whatever the HTTP status.
  // Throws Error when the server cannot be reached, on a timeout and on an oversize body.
  virtual HttpResponse Get(const std::string& url, const std::vector<HttpHeader>& headers) = 0;
};

// Makes a new client for each procedure that talks to a server.
class HttpClientFactory {
 public:
  virtual ~HttpClientFactory() = default;
  virtual std::unique_ptr<HttpClient> Create() = 0;
};

}  // namespace moviletta
