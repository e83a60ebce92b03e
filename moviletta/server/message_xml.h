// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace moviletta {

// What a greeting's message document says besides the page's arguments.
struct MessageContext {
  std::string installation_id;
  std::string client_version;
  std::string convertor;  // the CONVERTOR setting
  int32_t skin_id = -1;
};

// The greeting's message document, one line, values escaped. `section` follows the block being
// built ("sender", "message", "recipients", "system"). Recipients are separated by ";", their
// fields by ","; an entry needs three fields (name, mobile, e-mail) or at least six (three more).
// Throws Error 9 for an entry with fewer than three fields or with four or five.
std::string BuildMessageXml(int32_t lUserID, const std::string& sSenderName,
                            const std::string& sSenderEmail, const std::string& sRecipList,
                            const std::string& sMsg, const std::string& sPublish,
                            int32_t lSiteSettingID, const MessageContext& context,
                            std::string& section);

}  // namespace moviletta
