// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace moviletta {

// What the mobile e-mail body carries besides the page's arguments.
struct MobileContext {
  std::string skin_type;  // "ANIMATION", "STATIC", "NO_SKIN" or empty
  int32_t skin_id = -1;
  std::string installation_id;
  std::string client_version;
  std::string convertor;
};

// The eleven Voxa elements of a mobile e-mail, one run, values escaped.
std::string BuildMobileBody(const std::string& SenderName, const std::string& SenderEmail,
                            const std::string& RecipName, const std::string& MobilePhone,
                            const std::string& EmailList, const std::string& Msg,
                            const MobileContext& context);

// "Voxa-Mobile " followed by the mobile number.
inline std::string MobileLabel(const std::string& MobilePhone) {
  return "Voxa-Mobile " + MobilePhone;
}

}  // namespace moviletta
