// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/client_settings.h"

#include <array>
#include <variant>

#include "moviletta/common/constants.h"
#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"

namespace moviletta {
namespace {

// The values a number may take; outside them it is refused and the field keeps its former value,
// or `fallback` when that is outside too (the first load).
struct Range {
  int32_t low = INT32_MIN;
  int32_t high = INT32_MAX;
  int32_t fallback = 0;
};

struct Field {
  const char* element;
  std::variant<std::string ClientSettings::*, int32_t ClientSettings::*> member;
  Range range = {};
};

constexpr std::array<Field, 19> kFields{{
    {"SITE", &ClientSettings::SITE},
    {"DOWNLOAD", &ClientSettings::DOWNLOAD},
    {"REGISTER", &ClientSettings::REGISTER},
    {"SKIN", &ClientSettings::SKIN},
    {"SECLIMIT", &ClientSettings::SECLIMIT, {1, 3600, 60}},
    {"ANIMPREVIEW", &ClientSettings::ANIMPREVIEW},
    {"OUTPUT", &ClientSettings::OUTPUT},
    {"CONVERTOR", &ClientSettings::CONVERTOR},
    {"TRANSCOLOR", &ClientSettings::TRANSCOLOR},
    {"FPS", &ClientSettings::FPS, {1, 60, 15}},
    {"SAMPLESIZE", &ClientSettings::SAMPLESIZE},
    {"FILEWIDTH", &ClientSettings::FILEWIDTH},
    {"FILEHEIGHT", &ClientSettings::FILEHEIGHT},
    {"AUDIOBITRATE", &ClientSettings::AUDIOBITRATE},
    {"AUDIOSAMPLERATE", &ClientSettings::AUDIOSAMPLERATE},
    {"SENDTO", &ClientSettings::SENDTO},
    {"SENDFROM", &ClientSettings::SENDFROM},
    {"SMTPHOST", &ClientSettings::SMTPHOST},
    {"SMTPPWD", &ClientSettings::SMTPPWD},
}};

constexpr std::array<ClientSettingsField, kFields.size()> Described() {
  std::array<ClientSettingsField, kFields.size()> described{};
  for (std::size_t i = 0; i < kFields.size(); ++i)
    described[i] = {kFields[i].element,
                    std::holds_alternative<int32_t ClientSettings::*>(kFields[i].member),
                    kFields[i].range.low, kFields[i].range.high};
  return described;
}
constexpr auto kDescribed = Described();

void Store(const Field& field, int32_t value, int32_t& stored, std::string& refused) {
  const Range& range = field.range;
  const auto within = [&](int32_t v) { return v >= range.low && v <= range.high; };
  if (within(value)) {
    stored = value;
    return;
  }
  if (!within(stored)) stored = range.fallback;
  refused += std::string(refused.empty() ? "" : ", ") + field.element + " " +
             std::to_string(value) + " is outside " + std::to_string(range.low) + " to " +
             std::to_string(range.high) + ", kept " + std::to_string(stored);
}

}  // namespace

std::span<const ClientSettingsField> ClientSettingsFields() { return kDescribed; }

std::string FetchClientSettings(GreetingServer& server, XmlDocumentFactory& xml,
                                ClientSettings& settings, std::string& section) {
  Identity& identity = server.identity();
  const std::string url = server.Address(server.Path(kSettingsPath),
                                         {{"sInstallationID", identity.ComputeInstallationID()},
                                          {"sCurrentVersion", Identity::GetClientVersion()}});
  section = "sSettingsURL: " + url;
  const HttpResponse response = server.Get(url);

  const std::unique_ptr<XmlDocument> document = xml.Create();
  document->LoadXml(response.body);
  section = "xmlHTTP.responseText: " + response.body;

  std::string refused;
  for (const Field& field : kFields) {
    const std::optional<std::string> text = document->FirstElementText(field.element);
    if (!text)
      throw Error(err::kObjectNotSet, std::string(StandardDescription(err::kObjectNotSet)) +
                                          " (no element " + field.element + ")");
    if (auto* as_text = std::get_if<std::string ClientSettings::*>(&field.member))
      settings.*(*as_text) = *text;
    else
      Store(field, TextToLong(*text), settings.*std::get<int32_t ClientSettings::*>(field.member),
            refused);
  }
  return refused;
}

}  // namespace moviletta
