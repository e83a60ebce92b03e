// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/site_settings.h"

#include <algorithm>
#include <regex>

#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"
#include "moviletta/server/client_settings.h"
#include "moviletta/xml/xml_text.h"
#include "service/web/field_text.h"

namespace moviletta::service {
namespace {

bool WebAddress(const std::string& text) {
  static const std::regex address(R"(https?://[A-Za-z0-9.-]+(:\d{1,5})?(/[^\s<>"]*)?)");
  return std::regex_match(text, address);
}

bool MailAddress(const std::string& text) {
  static const std::regex address(R"([^\s@<>",;]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)");
  return std::regex_match(text, address);
}

bool MailServer(const std::string& text) {
  static const std::regex server(R"([A-Za-z0-9.-]+(:\d{1,5})?)");
  return std::regex_match(text, server);
}

}  // namespace

std::string HostName(const std::string& host) {
  const auto colon = host.rfind(':');
  return colon == std::string::npos || host.find(']') != std::string::npos ? host
                                                                           : host.substr(0, colon);
}

SettingsValues DefaultSettings(const std::string& host) {
  const std::string name = HostName(host);
  return {{"SITE", name},
          {"SECLIMIT", "60"},
          {"ANIMPREVIEW", "1"},
          {"OUTPUT", "mpg"},
          {"CONVERTOR", "0"},
          {"TRANSCOLOR", "16711935"},
          {"FPS", "15"},
          {"SAMPLESIZE", "16"},
          {"FILEWIDTH", "320"},
          {"FILEHEIGHT", "240"},
          {"AUDIOBITRATE", "64000"},
          {"AUDIOSAMPLERATE", "22050"},
          {"SENDTO", "greetings@" + name},
          {"SENDFROM", "studio@" + name},
          {"SMTPHOST", name + ":25"},
          {"SMTPPWD", ""}};
}

int64_t MakeSite(Store& store, const std::string& host) {
  const int64_t site = store.AddSite(host);
  if (store.Settings(site).empty()) store.SetSettings(site, DefaultSettings(host));
  return site;
}

const std::vector<ServiceSetting>& ServiceSettings() {
  static const std::vector<ServiceSetting> settings{
      {"RELAY", "Outgoing mail relay (smtp://host:port)"},
      {"SMSGATEWAY", "Text messages through ({number}@gateway)"},
      {"KEEPDAYS", "Days a greeting is kept"},
  };
  return settings;
}

namespace {

// Why a value of the service's own settings is refused, or "".
std::string RefusedServiceSetting(const std::string& name, const std::string& value) {
  static const std::regex relay(R"(smtps?://[A-Za-z0-9.-]+(:\d{1,5})?)");
  static const std::regex gateway(R"(\{number\}@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)");
  if (value.empty()) return "";
  if (name == "RELAY" && !std::regex_match(value, relay)) return "RELAY is not smtp://host:port";
  if (name == "SMSGATEWAY" && !std::regex_match(value, gateway))
    return "SMSGATEWAY is not {number}@a mail domain";
  if (name == "KEEPDAYS") {
    if (value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(value) < 1 || std::stoi(value) > 3650)
      return "KEEPDAYS must be a number of days from 1 to 3650";
  }
  return "";
}

}  // namespace

std::string RefusedSetting(const SettingsValues& values) {
  const auto fields = ClientSettingsFields();
  for (const auto& [name, value] : values) {
    if (std::any_of(ServiceSettings().begin(), ServiceSettings().end(),
                    [&name = name](const ServiceSetting& s) { return name == s.element; })) {
      if (std::string refused = RefusedServiceSetting(name, value); !refused.empty())
        return refused;
      continue;
    }
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [&name = name](const auto& f) { return name == f.element; });
    if (field == fields.end()) return name + " is not a setting";
    if (value.size() > 500) return name + " is longer than 500 characters";
    // What the settings document cannot carry unchanged is refused, so that the studio reads
    // exactly what was saved.
    if (KeptText(value, value.size()) != value) return name + " is not UTF-8 text";
    if (std::any_of(value.begin(), value.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
      return name + " holds a control character or a line break";
    if (!value.empty() && value.find_first_not_of(' ') == std::string::npos)
      return name + " holds only blanks";
    if (value.find("\xEF\xBF\xBE") != std::string::npos ||
        value.find("\xEF\xBF\xBF") != std::string::npos)
      return name + " holds a character that is not allowed in XML";
    if (field->number) {
      int32_t number = 0;
      try {
        number = TextToLong(value);
      } catch (const Error&) {
        return name + " is not a whole number: \"" + value + "\"";
      }
      if (number < field->low || number > field->high)
        return name + " must be from " + std::to_string(field->low) + " to " +
               std::to_string(field->high);
    } else if ((name == "DOWNLOAD" || name == "REGISTER" || name == "SKIN") && !value.empty() &&
               !WebAddress(value)) {
      return name + " is not a web address (http:// or https://)";
    } else if (name == "OUTPUT" && value != "wmv" && value != "mpg") {
      return "OUTPUT must be wmv or mpg";
    } else if ((name == "SENDTO" || name == "SENDFROM") && !MailAddress(value)) {
      return name + " is not a mail address";
    } else if (name == "SMTPHOST" && !MailServer(value)) {
      return "SMTPHOST is not a host name with an optional :port";
    }
  }
  return "";
}

std::string SettingsDocument(const SettingsValues& stored, const std::string& self) {
  SettingsValues values = {{"DOWNLOAD", self + "/skins/"},
                           {"REGISTER", self + "/register.asp"},
                           {"SKIN", self + "/skinType.asp"}};
  for (const auto& [name, value] : stored)
    if (!value.empty() || !values.count(name)) values[name] = value;
  std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SETTINGS>\n";
  for (const ClientSettingsField& field : ClientSettingsFields())
    document += "  " + XmlLeaf(field.element, values[field.element]) + "\n";
  return document + "</SETTINGS>\n";
}

}  // namespace moviletta::service
