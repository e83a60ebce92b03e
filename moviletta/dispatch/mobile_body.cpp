// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/dispatch/mobile_body.h"

#include "moviletta/xml/xml_text.h"

namespace moviletta {

std::string BuildMobileBody(const std::string& SenderName, const std::string& SenderEmail,
                            const std::string& RecipName, const std::string& MobilePhone,
                            const std::string& EmailList, const std::string& Msg,
                            const MobileContext& context) {
  return XmlLeaf("Voxa:From", SenderName) + XmlLeaf("Voxa:To", RecipName) +
         XmlLeaf("Voxa:ToPhone", MobilePhone) + XmlLeaf("Voxa:Message", Msg) +
         XmlLeaf("Voxa:FromEmail", SenderEmail) + XmlLeaf("Voxa:ToEmail", EmailList) +
         XmlLeaf("Voxa:SkinType", context.skin_type) +
         XmlLeaf("Voxa:SkinID", std::to_string(context.skin_id)) +
         XmlLeaf("Voxa:InstallationID", context.installation_id) +
         XmlLeaf("Voxa:ClientVersion", context.client_version) +
         XmlLeaf("Voxa:UseConvertor", context.convertor);
}

}  // namespace moviletta
