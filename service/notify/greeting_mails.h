// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "service/notify/outgoing_mail.h"
#include "service/store/greetings.h"

namespace moviletta::service {

// Where a site's mails come from and where its watch pages are.
struct SiteAddress {
  std::string name;        // the site's name in the From line
  std::string mail_from;   // "greetings@example.com"
  std::string public_url;  // "https://example.com", without a trailing slash
};

// The mails of one greeting; every text a visitor wrote is escaped in the HTML part. A mail's
// Message-ID is made of the greeting's token and what it is, so a retry carries the same one.
// `poster` is the poster's JPEG bytes.
OutgoingMail RecipientMail(const SiteAddress& site, const Greeting& greeting,
                           const Recipient& recipient, const std::string& poster);
// The sender's copy: the same, with the link that deletes the greeting.
OutgoingMail SenderCopy(const SiteAddress& site, const Greeting& greeting, const Recipient& sender,
                        const std::string& poster);
// A short text for an e-mail-to-SMS gateway: the link and who sent it.
OutgoingMail TextMessage(const SiteAddress& site, const Greeting& greeting,
                         const Recipient& recipient, const std::string& gateway_address);
// Tells the sender their greeting was first watched.
OutgoingMail WatchedNotice(const SiteAddress& site, const Greeting& greeting);
// A recipient's reply, to the sender.
OutgoingMail ReplyMail(const SiteAddress& site, const Greeting& greeting, int64_t reply_id,
                       const Reply& reply);

std::string WatchUrl(const SiteAddress& site, const Greeting& greeting);

}  // namespace moviletta::service
