// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/message_xml.h"

#include <vector>

#include "moviletta/common/error.h"
#include "moviletta/xml/xml_text.h"

namespace moviletta {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

std::string Recipient(const std::string& entry) {
  const std::vector<std::string> fields = Split(entry, ',');
  if (fields.size() < 3 || fields.size() == 4 || fields.size() == 5)
    throw Error(err::kSubscriptOutOfRange,
                "recipient \"" + entry + "\" has " + std::to_string(fields.size()) + " fields");
  std::string block = "<RECIPIENT>" + XmlLeaf("NAME", fields[0]) + XmlLeaf("CELL", fields[1]) +
                      XmlLeaf("EMAIL", fields[2]);
  if (fields.size() > 3)
    block += XmlLeaf("ADD_REC1", fields[3]) + XmlLeaf("ADD_REC2", fields[4]) +
             XmlLeaf("ADD_REC3", fields[5]);
  return block + "</RECIPIENT>";
}

}  // namespace

std::string BuildMessageXml(int32_t lUserID, const std::string& sSenderName,
                            const std::string& sSenderEmail, const std::string& sRecipList,
                            const std::string& sMsg, const std::string& sPublish,
                            int32_t lSiteSettingID, const MessageContext& context,
                            std::string& section) {
  std::string xml = "<?xml version=\"1.0\"?><MLMESSAGE>";
  section = "sender";
  xml += "<SENDER>" + XmlLeaf("INSTALLATIONID", context.installation_id) +
         XmlLeaf("USERID", std::to_string(lUserID)) + XmlLeaf("FROM", sSenderName) +
         XmlLeaf("FROMEMAIL", sSenderEmail) + "</SENDER>";
  section = "message";
  xml += "<MESSAGE>" + XmlLeaf("TEXT", sMsg) + XmlLeaf("PUBLISH", sPublish) +
         XmlLeaf("SKINID", std::to_string(context.skin_id)) + "</MESSAGE>";
  section = "recipients";
  xml += "<RECIPIENTS>";
  if (!sRecipList.empty())
    for (const std::string& entry : Split(sRecipList, ';')) xml += Recipient(entry);
  xml += "</RECIPIENTS>";
  section = "system";
  xml += "<SYSTEM>" + XmlLeaf("VERSION", context.client_version) +
         XmlLeaf("CONVERTOR", context.convertor) +
         XmlLeaf("SITESETID", std::to_string(lSiteSettingID)) + "</SYSTEM></MLMESSAGE>";
  return xml;
}

}  // namespace moviletta
