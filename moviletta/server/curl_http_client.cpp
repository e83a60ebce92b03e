// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/curl_http_client.h"

#include <mutex>

#include "moviletta/common/error.h"
#include "moviletta/curl/handles.h"

namespace moviletta {
namespace {

constexpr const char* kSource = "Moviletta.HttpClient";

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  std::string body;
  std::size_t limit = 0;
  bool too_large = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer->body.size() + bytes > transfer->limit) {
    transfer->too_large = true;
    return 0;  // makes curl abort with CURLE_WRITE_ERROR
  }
  transfer->body.append(data, bytes);
  return bytes;
}

// libcurl's progress callback: a C callback, so nothing may leave it.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  try {
    return (*static_cast<const std::function<bool()>*>(user))() ? 1 : 0;
  } catch (...) {
    return 1;
  }
}

class CurlHttpClient : public HttpClient {
 public:
  explicit CurlHttpClient(const HttpOptions& options) : options_(options), easy_(curl_easy_init()) {
    if (!easy_) throw Error(err::kOutOfMemory, "cannot create an HTTP request", kSource);
  }

  HttpResponse Get(const std::string& url, const std::vector<HttpHeader>& headers) override {
    CURL* h = easy_.get();
    curl_easy_reset(h);  // keeps the connection cache, drops the previous request's options
    Transfer transfer;
    transfer.limit = options_.max_body_bytes;
    char error_text[CURL_ERROR_SIZE] = {};

    curl::List header_list;
    for (const auto& header : headers) {
      if (!curl::Append(header_list, (header.name + ": " + header.value).c_str()))
        throw Error(err::kOutOfMemory);
    }

    const auto set = [h](CURLoption option, auto value) {
      if (!curl::Set(h, option, value))
        throw Error(err::kHttpRequestFailed, "cannot set up the request", kSource);
    };
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 5L);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connect_timeout.count()));
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(options_.total_timeout.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, options_.low_speed_bytes);
    set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(options_.low_speed_time.count()));
    set(CURLOPT_ERRORBUFFER, error_text);
    set(CURLOPT_WRITEFUNCTION, OnBody);
    set(CURLOPT_WRITEDATA, &transfer);
    set(CURLOPT_HTTPHEADER, header_list.get());
    if (options_.cancelled) {
      set(CURLOPT_NOPROGRESS, 0L);
      set(CURLOPT_XFERINFOFUNCTION, OnProgress);
      set(CURLOPT_XFERINFODATA, &options_.cancelled);
    }

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);  // the buffer ends with this call
    if (rc != CURLE_OK) Fail(rc, error_text, url, transfer);

    HttpResponse response;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(transfer.body);
    return response;
  }

 private:
  [[noreturn]] void Fail(CURLcode rc, const char* error_text, const std::string& url,
                         const Transfer& transfer) const {
    long os_error = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_OS_ERRNO, &os_error);
    // The address without its query: the caller's section string names the whole of it.
    const std::string request = " (GET " + url.substr(0, url.find('?')) + ")";
    if (transfer.too_large)
      throw Error(
          err::kHttpBodyTooLarge,
          "response larger than " + std::to_string(options_.max_body_bytes) + " bytes" + request,
          kSource);
    const std::string what = (*error_text ? error_text : curl_easy_strerror(rc)) + request;
    if (rc == CURLE_ABORTED_BY_CALLBACK)
      throw Error(err::kHttpRequestFailed, "the request was stopped" + request, kSource);
    if (rc == CURLE_OPERATION_TIMEDOUT)
      throw Error(err::kHttpTimeout, what, kSource, static_cast<int32_t>(os_error));
    throw Error(err::kHttpRequestFailed, what, kSource, static_cast<int32_t>(os_error));
  }

  HttpOptions options_;
  curl::Easy easy_;
};

}  // namespace

CurlHttpClientFactory::CurlHttpClientFactory(HttpOptions options) : options_(options) {
  GlobalInit();
}

std::unique_ptr<HttpClient> CurlHttpClientFactory::Create() {
  return std::make_unique<CurlHttpClient>(options_);
}

}  // namespace moviletta
