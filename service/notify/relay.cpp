// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/notify/relay.h"

#include <curl/curl.h>

#include <cstring>

#include "moviletta/common/error.h"
#include "moviletta/curl/handles.h"

namespace moviletta::service {
namespace {

constexpr const char* kSource = "Relay";

struct Upload {
  std::string_view left;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const std::size_t n = std::min(size * count, upload->left.size());
  std::memcpy(buffer, upload->left.data(), n);
  upload->left.remove_prefix(n);
  return n;
}

}  // namespace

void SmtpRelay::Send(const OutgoingMail& mail) {
  const std::string composed = ComposeMail(mail);
  curl::Easy easy(curl_easy_init());
  if (!easy) throw Error(7, "out of memory", kSource);
  CURL* h = easy.get();
  curl::List recipients;
  const std::string to = "<" + mail.to_address + ">";
  const std::string from = "<" + mail.from_address + ">";
  if (!curl::Append(recipients, to.c_str())) throw Error(7, "out of memory", kSource);
  Upload upload{composed};
  char why[CURL_ERROR_SIZE] = {};
  const bool set =
      curl::Set(h, CURLOPT_URL, url_.c_str()) && curl::Set(h, CURLOPT_MAIL_FROM, from.c_str()) &&
      curl::Set(h, CURLOPT_MAIL_RCPT, recipients.get()) && curl::Set(h, CURLOPT_UPLOAD, 1L) &&
      curl::Set(h, CURLOPT_READFUNCTION, ReadUpload) && curl::Set(h, CURLOPT_READDATA, &upload) &&
      curl::Set(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY)) &&
      curl::Set(h, CURLOPT_TIMEOUT, static_cast<long>(timeout_.count())) &&
      curl::Set(h, CURLOPT_NOSIGNAL, 1L) && curl::Set(h, CURLOPT_ERRORBUFFER, why);
  if (!set) throw Error(7, "the relay cannot be set up", kSource);
  const CURLcode rc = curl_easy_perform(h);
  if (rc != CURLE_OK)
    throw Error(75,
                "the relay did not take the mail to " + mail.to_address + ": " +
                    (*why ? why : curl_easy_strerror(rc)),
                kSource);
}

}  // namespace moviletta::service
