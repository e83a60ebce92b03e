// SPDX-License-Identifier: GPL-3.0-or-later
// The client-settings document. A first byte below 128 sends the rest as the document itself:
// a load then fails with its own error numbers or ends with every number in its range. Otherwise
// the rest gives the fields' values (separated by its first byte), written into a well-formed
// document: every text field reads back as given and every number as given or as the kept one.
#include <array>
#include <string>

#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"
#include "moviletta/server/client_settings.h"
#include "moviletta/xml/xml_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace moviletta::fuzz {
namespace {

class OneAnswer : public HttpClientFactory, public HttpClient {
 public:
  std::string body;

  std::unique_ptr<HttpClient> Create() override { return std::make_unique<Copy>(*this); }
  HttpResponse Get(const std::string&, const std::vector<HttpHeader>&) override {
    return {200, body};
  }

 private:
  struct Copy : HttpClient {
    explicit Copy(OneAnswer& answer) : answer_(answer) {}
    HttpResponse Get(const std::string& url, const std::vector<HttpHeader>& headers) override {
      return answer_.Get(url, headers);
    }
    OneAnswer& answer_;
  };
};

constexpr std::array<const char*, 19> kElements = {
    "SITE",        "DOWNLOAD",  "REGISTER",   "SKIN",         "SECLIMIT",
    "ANIMPREVIEW", "OUTPUT",    "CONVERTOR",  "TRANSCOLOR",   "FPS",
    "SAMPLESIZE",  "FILEWIDTH", "FILEHEIGHT", "AUDIOBITRATE", "AUDIOSAMPLERATE",
    "SENDTO",      "SENDFROM",  "SMTPHOST",   "SMTPPWD"};

bool InRange(const ClientSettings& s) {
  return s.FPS >= 1 && s.FPS <= 60 && s.SECLIMIT >= 1 && s.SECLIMIT <= 3600;
}

constexpr std::array<std::size_t, 9> kNumbers = {4, 5, 8, 9, 10, 11, 12, 13, 14};

bool NumberReads(const std::string& value) {
  try {
    TextToLong(value);
    return true;
  } catch (const Error&) {
    return false;
  }
}

// What a successful load of the document written from `values` must have given.
void CheckGenerated(const std::array<std::string, 19>& values, const ClientSettings& read,
                    const ClientSettings& before, const std::string& refused) {
  const std::array<const std::string*, 19> texts = {
      &read.SITE,   &read.DOWNLOAD, &read.REGISTER,  &read.SKIN,   nullptr,
      nullptr,      &read.OUTPUT,   &read.CONVERTOR, nullptr,      nullptr,
      nullptr,      nullptr,        nullptr,         nullptr,      nullptr,
      &read.SENDTO, &read.SENDFROM, &read.SMTPHOST,  &read.SMTPPWD};
  for (std::size_t i = 0; i < values.size(); ++i)
    if (texts[i] && IsXmlSafeText(values[i])) FUZZ_CHECK(*texts[i] == values[i]);
  bool out_of_range = false;
  const auto number = [&](std::size_t i, int32_t read_value, int32_t old, int32_t low, int32_t high,
                          int32_t fallback) {
    if (!IsXmlSafeText(values[i])) return;
    const int32_t given = TextToLong(values[i]);
    const int32_t kept = old >= low && old <= high ? old : fallback;
    out_of_range |= given < low || given > high;
    FUZZ_CHECK(read_value == (given >= low && given <= high ? given : kept));
  };
  number(4, read.SECLIMIT, before.SECLIMIT, 1, 3600, 60);
  number(9, read.FPS, before.FPS, 1, 60, 15);
  number(11, read.FILEWIDTH, before.FILEWIDTH, INT32_MIN, INT32_MAX, 0);
  number(14, read.AUDIOSAMPLERATE, before.AUDIOSAMPLERATE, INT32_MIN, INT32_MAX, 0);
  if (IsXmlSafeText(values[4]) && IsXmlSafeText(values[9]))
    FUZZ_CHECK(refused.empty() == !out_of_range);
}

}  // namespace
}  // namespace moviletta::fuzz

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta;
  using namespace moviletta::fuzz;
  if (size < 2) return 0;
  const bool raw = data[0] < 128;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  OneAnswer http;
  std::array<std::string, 19> values;
  if (raw) {
    http.body = std::string(input);
  } else {
    const char separator = input.front();
    input.remove_prefix(1);
    http.body = "<?xml version=\"1.0\"?><SETTINGS>";
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = std::string(Piece(input, separator));
      http.body += XmlLeaf(kElements[i], values[i]);
    }
    http.body += "</SETTINGS>";
  }

  Identity identity([] { return std::optional<uint32_t>(1); });
  GreetingServer server("http://settings.invalid", http, identity);
  PugiXmlDocumentFactory xml;
  ClientSettings settings;
  settings.FPS = size % 2 ? 30 : 0;  // a former value in range, or the first load
  const ClientSettings before = settings;
  std::string section;
  try {
    const std::string refused = FetchClientSettings(server, xml, settings, section);
    FUZZ_CHECK(InRange(settings));
    if (!raw) CheckGenerated(values, settings, before, refused);
  } catch (const Error& e) {
    const int32_t n = e.number();
    FUZZ_CHECK(n == err::kObjectNotSet || n == err::kTypeMismatch || n == err::kOverflow);
    FUZZ_CHECK(section.starts_with("xmlHTTP.responseText: "));
    if (!raw) {
      FUZZ_CHECK(n != err::kObjectNotSet);
      bool unreadable = false;
      for (const std::size_t i : kNumbers)
        unreadable |= !IsXmlSafeText(values[i]) || !NumberReads(values[i]);
      FUZZ_CHECK(unreadable);
    }
  }
  return 0;
}
