#include "moviletta/server/client_settings.h"

#include <array>
#include <variant>

#include "moviletta/common/constants.h"
#include "moviletta/common/error.h"
#include "moviletta/common/number_text.h"

namespace moviletta {
namespace {

struct Field {
  const char* element;
  std::variant<std::string ClientSettings::*, int32_t ClientSettings::*> member;
};

constexpr std::array<Field, 19> kFields{{
    {"SITE", &ClientSettings::SITE},
    {"DOWNLOAD", &ClientSettings::DOWNLOAD},
    {"REGISTER", &ClientSettings::REGISTER},
    {"SKIN", &ClientSettings::SKIN},
    {"SECLIMIT", &ClientSettings::SECLIMIT},
    {"ANIMPREVIEW", &ClientSettings::ANIMPREVIEW},
    {"OUTPUT", &ClientSettings::OUTPUT},
    {"CONVERTOR", &ClientSettings::CONVERTOR},
    {"TRANSCOLOR", &ClientSettings::TRANSCOLOR},
    {"FPS", &ClientSettings::FPS},
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

}  // namespace

void FetchClientSettings(GreetingServer& server, XmlDocumentFactory& xml, ClientSettings& settings,
                         std::string& section) {
  Identity& identity = server.identity();
  const std::string url = server.Address(server.Path(kSettingsPath),
                                         {{"sInstallationID", identity.ComputeInstallationID()},
                                          {"sCurrentVersion", Identity::GetClientVersion()}});
  section = "sSettingsURL: " + url;
  const HttpResponse response = server.Get(url);

  const std::unique_ptr<XmlDocument> document = xml.Create();
  document->LoadXml(response.body);
  section = "xmlHTTP.responseText: " + response.body;

  for (const Field& field : kFields) {
    const std::optional<std::string> text = document->FirstElementText(field.element);
    if (!text)
      throw Error(err::kObjectNotSet, std::string(StandardDescription(err::kObjectNotSet)) +
                                          " (no element " + field.element + ")");
    if (auto* as_text = std::get_if<std::string ClientSettings::*>(&field.member))
      settings.*(*as_text) = *text;
    else
      settings.*std::get<int32_t ClientSettings::*>(field.member) = TextToLong(*text);
  }
}

}  // namespace moviletta
