// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting service's reading of what studios and owners send: a query or form body as
// cpp-httplib takes it apart, each value kept as text (bounded, valid UTF-8, idempotent) and shown
// escaped; the values as settings: when the service accepts them, the settings document it
// builds gives the studio's reader exactly those values.
#include <httplib.h>

#include <string>

#include "moviletta/common/number_text.h"
#include "moviletta/server/client_settings.h"
#include "moviletta/xml/xml_document.h"
#include "service/web/field_text.h"
#include "service/web/site_settings.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace moviletta;
  using namespace moviletta::service;
  const std::string input(reinterpret_cast<const char*>(data), size);
  httplib::Params params;
  httplib::detail::parse_query_text(input, params);

  SettingsValues values;
  for (const auto& [key, value] : params) {
    const std::string kept = KeptText(value);
    FUZZ_CHECK(kept.size() <= kMaxFieldBytes + 3);
    if (kept.size() <= kMaxFieldBytes) FUZZ_CHECK(KeptText(kept) == kept);
    FUZZ_CHECK(KeptText(value, value.size() * 4) == KeptText(KeptText(value, value.size() * 4),
                                                             value.size() * 4));
    const std::string shown = HtmlEscaped(kept);
    FUZZ_CHECK(shown.find_first_of("<>\"'") == std::string::npos);
    values.emplace(key, value);
  }

  if (!RefusedSetting(values).empty()) return 0;
  PugiXmlDocumentFactory xml;
  const auto document = xml.Create();
  document->LoadXml(SettingsDocument(values, "http://greetings.invalid"));
  for (const ClientSettingsField& field : ClientSettingsFields()) {
    const auto given = values.find(field.element);
    const std::optional<std::string> read = document->FirstElementText(field.element);
    FUZZ_CHECK(read.has_value());
    if (given == values.end()) continue;
    const std::string name = field.element;
    const bool own_address = name == "DOWNLOAD" || name == "REGISTER" || name == "SKIN";
    if (own_address && given->second.empty())  // the service's own address stands in
      FUZZ_CHECK(read->starts_with("http://greetings.invalid/"));
    else
      FUZZ_CHECK(*read == given->second);
    if (field.number) {
      const int32_t number = TextToLong(*read);
      FUZZ_CHECK(number >= field.low && number <= field.high);
    }
  }
  return 0;
}
