// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "moviletta/server/greeting_server.h"
#include "moviletta/xml/xml_document.h"

namespace moviletta {

// The settings the greeting server gives the control, named by the elements of the settings
// document. Texts are empty and numbers 0 until the first load.
struct ClientSettings {
  std::string SITE;
  std::string DOWNLOAD;
  std::string REGISTER;
  std::string SKIN;
  int32_t SECLIMIT = 0;
  int32_t ANIMPREVIEW = 0;
  std::string OUTPUT;
  std::string CONVERTOR;
  int32_t TRANSCOLOR = 0;
  int32_t FPS = 0;
  int32_t SAMPLESIZE = 0;
  int32_t FILEWIDTH = 0;
  int32_t FILEHEIGHT = 0;
  int32_t AUDIOBITRATE = 0;
  int32_t AUDIOSAMPLERATE = 0;
  std::string SENDTO;
  std::string SENDFROM;
  std::string SMTPHOST;
  std::string SMTPPWD;

  friend bool operator==(const ClientSettings&, const ClientSettings&) = default;
};

// A field of the settings document, in the order the control reads them: its element, whether
// it is a number, and the values a number may take (the whole 32-bit range unless it says less).
struct ClientSettingsField {
  const char* element;
  bool number;
  int32_t low;
  int32_t high;
};
std::span<const ClientSettingsField> ClientSettingsFields();

// Fetches the settings document and stores its fields into `settings` one by one, in the order
// above, keeping `section` on the step in progress. Throws Error on the first failure: a failed
// request, a missing element (91), a number that does not convert (13, 6); the fields stored
// before it keep their new values, the rest their old ones.
// A number outside its range (FPS 1 to 60, SECLIMIT 1 to 3600) is not stored: the field keeps its
// former value, or the default (FPS 15, SECLIMIT 60) when that is outside too. Returns what was
// refused, in words; empty when nothing was.
std::string FetchClientSettings(GreetingServer& server, XmlDocumentFactory& xml,
                                ClientSettings& settings, std::string& section);

}  // namespace moviletta
