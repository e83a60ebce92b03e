// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/notify/greeting_mails.h"

#include "service/web/field_text.h"

namespace moviletta::service {
namespace {

std::string Sender(const Greeting& g) {
  return g.sender_name.empty() ? std::string("Someone") : g.sender_name;
}

std::string MessageId(const Greeting& g, const std::string& what, const SiteAddress& site) {
  const std::string::size_type at = site.mail_from.find('@');
  const std::string domain =
      at == std::string::npos ? std::string("moviletta.invalid") : site.mail_from.substr(at + 1);
  return g.token.substr(0, 32) + "." + what + "@" + domain;
}

OutgoingMail Base(const SiteAddress& site, const Greeting& g, const std::string& what) {
  OutgoingMail mail;
  mail.from_name = site.name;
  mail.from_address = site.mail_from;
  mail.message_id = MessageId(g, what, site);
  return mail;
}

std::string Page(const std::string& heading, const std::string& body_html) {
  return "<!doctype html><html><body style=\"font-family:sans-serif\"><h1 style=\"font-size:"
         "1.3em\">" +
         heading + "</h1>" + body_html + "</body></html>";
}

std::string Invitation(const SiteAddress& site, const Greeting& g, std::string& text) {
  const std::string url = WatchUrl(site, g);
  text = Sender(g) + " sent you a video greeting.\r\n\r\n";
  if (!g.message.empty()) text += "\"" + g.message + "\"\r\n\r\n";
  text += "Watch it here: " + url + "\r\n";
  std::string html = "<p>" + HtmlEscaped(Sender(g)) + " sent you a video greeting.</p>";
  if (!g.message.empty()) html += "<blockquote>" + HtmlEscaped(g.message) + "</blockquote>";
  html += "<p><a href=\"" + HtmlEscaped(url) + "\"><img src=\"cid:poster@moviletta\" alt=\"" +
          "Watch the greeting\" width=\"320\"></a></p><p><a href=\"" + HtmlEscaped(url) +
          "\">Watch the greeting</a></p>";
  return html;
}

}  // namespace

std::string WatchUrl(const SiteAddress& site, const Greeting& greeting) {
  return site.public_url + "/watch/" + greeting.token;
}

OutgoingMail RecipientMail(const SiteAddress& site, const Greeting& g, const Recipient& r,
                           const std::string& poster) {
  OutgoingMail mail = Base(site, g, "to-" + std::to_string(r.id));
  mail.to_name = r.name, mail.to_address = r.email;
  mail.subject = Sender(g) + " sent you a video greeting";
  mail.html = Page("A video greeting for you", Invitation(site, g, mail.text));
  mail.poster = poster;
  return mail;
}

OutgoingMail SenderCopy(const SiteAddress& site, const Greeting& g, const Recipient& sender,
                        const std::string& poster) {
  OutgoingMail mail = Base(site, g, "copy");
  mail.to_name = sender.name, mail.to_address = sender.email;
  mail.subject = "Your video greeting was sent";
  std::string invitation_text;
  const std::string invitation = Invitation(site, g, invitation_text);
  const std::string remove = site.public_url + "/watch/delete/" + g.delete_token;
  mail.text = "Your greeting is on its way. This is what its recipients received:\r\n\r\n" +
              invitation_text + "\r\nTo delete the greeting: " + remove + "\r\n";
  mail.html = Page("Your video greeting was sent",
                   "<p>This is what its recipients received:</p>" + invitation + "<p><a href=\"" +
                       HtmlEscaped(remove) + "\">Delete the greeting</a></p>");
  mail.poster = poster;
  return mail;
}

OutgoingMail TextMessage(const SiteAddress& site, const Greeting& g, const Recipient& r,
                         const std::string& gateway_address) {
  OutgoingMail mail = Base(site, g, "sms-" + std::to_string(r.id));
  mail.to_address = gateway_address;
  mail.subject = "Video greeting";
  mail.text = Sender(g).substr(0, 40) + " sent you a video greeting: " + WatchUrl(site, g);
  return mail;
}

OutgoingMail WatchedNotice(const SiteAddress& site, const Greeting& g) {
  OutgoingMail mail = Base(site, g, "watched");
  mail.to_name = g.sender_name, mail.to_address = g.sender_email;
  mail.subject = "Your video greeting was watched";
  mail.text =
      "Your video greeting was watched for the first time.\r\n\r\n" + WatchUrl(site, g) + "\r\n";
  return mail;
}

OutgoingMail ReplyMail(const SiteAddress& site, const Greeting& g, int64_t reply_id,
                       const Reply& reply) {
  OutgoingMail mail = Base(site, g, "reply-" + std::to_string(reply_id));
  mail.to_name = g.sender_name, mail.to_address = g.sender_email;
  mail.subject = "A reply to your video greeting";
  mail.text = "A recipient replied to your video greeting:\r\n\r\n" + reply.text + "\r\n\r\n" +
              WatchUrl(site, g) + "\r\n";
  return mail;
}

}  // namespace moviletta::service
