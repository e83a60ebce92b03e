// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/admin_page.h"

#include <ctime>

#include "moviletta/server/client_settings.h"
#include "service/web/field_text.h"

namespace moviletta::service {
namespace {

std::string E(std::string_view text) {
  return HtmlEscaped(text);
}

std::string Url(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == ':')
      encoded += c;
    else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      encoded += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return encoded;
}

std::string When(Time at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

constexpr const char* kHead = R"(<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Moviletta greetings: administration</title>
<link rel="stylesheet" href="/admin/style.css"></head><body>
)";

}  // namespace

std::string SignInPage(const std::string& said) {
  return std::string(kHead) + "<main><h1>Moviletta greetings</h1>\n" +
         (said.empty() ? "" : "<p role=\"alert\" class=\"refused\">" + E(said) + "</p>\n") +
         R"(<form method="post" action="/admin/signin">
<label>Name <input name="name" autocomplete="username" required></label>
<label>Password <input name="password" type="password" autocomplete="current-password" required></label>
<button>Sign in</button></form></main></body></html>
)";
}

std::string AdminPage(const AdminView& v) {
  const std::string site = Url(v.site);
  const std::string csrf = "<input type=\"hidden\" name=\"csrf\" value=\"" + E(v.csrf) + "\">";
  std::string page = kHead;
  page += "<header><h1>Moviletta greetings</h1><p>Signed in as " + E(v.admin) +
          ". <form method=\"post\" action=\"/admin/signout\" class=\"inline\">" + csrf +
          "<button>Sign out</button></form></p></header><main>\n";
  if (!v.refusal.empty())
    page += "<p role=\"alert\" class=\"refused\" id=\"refusal\">" + E(v.refusal) + "</p>\n";

  page += "<section id=\"sites\"><h2>Sites</h2><ul>";
  for (const std::string& host : v.sites)
    page += "<li><a href=\"/admin?site=" + Url(host) + "\"" +
            (host == v.site ? " aria-current=\"page\"" : "") + ">" + E(host) + "</a></li>";
  page += "</ul><form method=\"post\" action=\"/admin/sites\">" + csrf +
          "<label>Host name <input name=\"host\" required></label><button>Add site</button>"
          "</form></section>\n";

  page += "<section id=\"settings\"><h2>Settings of " + E(v.site) +
          "</h2><form method=\"post\" action=\"/admin/settings?site=" + site + "\">" + csrf;
  for (const ClientSettingsField& field : ClientSettingsFields()) {
    const auto value = v.settings.find(field.element);
    page += std::string("<label>") + field.element + " <input name=\"" + field.element +
            "\" value=\"" + (value == v.settings.end() ? "" : E(value->second)) + "\"" +
            (std::string(field.element) == "SMTPPWD" ? " type=\"password\"" : "") + "></label>\n";
  }
  page += "<fieldset><legend>How greetings reach their recipients</legend>";
  for (const ServiceSetting& setting : ServiceSettings()) {
    const auto value = v.settings.find(setting.element);
    page += std::string("<label>") + setting.label + " <input name=\"" + setting.element +
            "\" value=\"" + (value == v.settings.end() ? "" : E(value->second)) + "\"></label>\n";
  }
  page += "</fieldset><button>Save settings</button></form></section>\n";

  page += "<section id=\"skins\"><h2>Skins</h2><ol class=\"skins\">";
  for (const Skin& skin : v.skins) {
    const std::string id = std::to_string(skin.id);
    page += "<li><img alt=\"\" src=\"/admin/picture?site=" + site + "&amp;id=" + id +
            "&amp;number=1\"> <span class=\"name\">" + E(skin.name) + "</span> (" + id + ", " +
            (skin.kind == "SKIN" ? std::to_string(skin.frames) + " frames" : "static") +
            ") <form method=\"post\" action=\"/admin/skins/move?site=" + site +
            "\" class=\"inline\">" + csrf + "<input type=\"hidden\" name=\"id\" value=\"" + id +
            "\"><input type=\"hidden\" name=\"position\" value=\"" +
            std::to_string(std::max(0, skin.position - 1)) +
            "\"><button>Move up</button></form> <form method=\"post\" "
            "action=\"/admin/skins/remove?site=" +
            site + "\" class=\"inline\">" + csrf + "<input type=\"hidden\" name=\"id\" value=\"" +
            id + "\"><button>Remove</button></form></li>\n";
  }
  page +=
      "</ol><form id=\"add-skin\" method=\"post\" enctype=\"multipart/form-data\" "
      "action=\"/admin/skins?site=" +
      site + "\">" + csrf +
      "<label>Skin number <input name=\"id\" inputmode=\"numeric\" required></label>"
      "<label>Name <input name=\"name\" required maxlength=\"100\"></label>"
      "<label>Kind <select name=\"kind\"><option value=\"SKIN\">animated (its frames in "
      "order)</option><option value=\"STATIC\">static (one picture)</option></select></label>"
      "<label>GIF pictures <input type=\"file\" name=\"pictures\" accept=\"image/gif\" "
      "multiple required></label><button>Add skin</button></form></section>\n";

  page +=
      "<section id=\"errors\"><h2>Error log</h2><form method=\"get\" action=\"/admin\">"
      "<input type=\"hidden\" name=\"site\" value=\"" +
      E(v.site) +
      "\">"
      "<label>Installation <input name=\"installation\" value=\"" +
      E(v.filter.installation) + "\"></label><label>Function <input name=\"function\" value=\"" +
      E(v.filter.function) + "\"></label><label>Day <input name=\"day\" type=\"date\" value=\"" +
      E(v.filter.day) + "\"></label><button>Show</button></form>\n<p>" +
      (v.reports_per_day.empty() ? "No reports yet" : "Per day:");
  for (const auto& [day, count] : v.reports_per_day)
    page += " <span class=\"day\">" + E(day) + ": " + std::to_string(count) + "</span>";
  page += ". Over the limit, not kept: <span id=\"refused\">" + std::to_string(v.refused) +
          "</span>.</p>\n<table><thead><tr><th>Time (UTC)</th><th>Installation</th><th>Version"
          "</th><th>Function</th><th>Section</th><th>Code</th><th>Description</th><th>Source</th>"
          "</tr></thead><tbody>\n";
  for (const ErrorReport& r : v.reports)
    page += "<tr><td>" + When(r.at) + "</td><td>" + E(r.installation) + "</td><td>" + E(r.version) +
            "</td><td>" + E(r.function) + "</td><td>" + E(r.section) + "</td><td>" + E(r.code) +
            "</td><td>" + E(r.description) + "</td><td>" + E(r.source) + "</td></tr>\n";
  page += "</tbody></table></section>\n";

  page +=
      "<section id=\"registrations\"><h2>Installations</h2><table><thead><tr><th>"
      "Installation</th><th>Version</th><th>First seen (UTC)</th><th>Last seen</th><th>"
      "Announcements</th></tr></thead><tbody>\n";
  for (const Registration& r : v.registrations)
    page += "<tr><td>" + E(r.installation) + "</td><td>" + E(r.version) + "</td><td>" +
            When(r.first_seen) + "</td><td>" + When(r.last_seen) + "</td><td>" +
            std::to_string(r.announcements) + "</td></tr>\n";
  page += "</tbody></table></section>\n";

  page +=
      "<section id=\"greetings\"><h2>Greetings</h2><table><thead><tr><th>Taken in (UTC)</th>"
      "<th>From</th><th>Kind</th><th>State</th><th>Recipients</th><th>Reports</th><th>"
      "Decide</th></tr></thead>"
      "<tbody>\n";
  for (const Greeting& g : v.greetings) {
    std::string recipients;
    for (const Recipient& r : g.recipients)
      if (r.role == "recipient")
        recipients += (recipients.empty() ? "" : ", ") + E(r.name.empty() ? r.email : r.name) +
                      " (" + E(r.state == "unreachable" ? "not reachable" : r.state) + ")";
    page += "<tr><td>" + When(g.taken_at) + "</td><td>" + E(g.sender_name) + "</td><td>" +
            E(g.kind) + "</td><td>" + E(g.hidden ? "reported, hidden" : g.state) + "</td><td>" +
            recipients + "</td><td>" + std::to_string(g.reports) + "</td><td>";
    const std::string form = "<form method=\"post\" action=\"/admin/greetings/";
    const std::string fields = "?site=" + site + "\">" + csrf +
                               "<input type=\"hidden\" name=\"id\" value=\"" +
                               std::to_string(g.id) + "\">";
    if (g.hidden) page += form + "show" + fields + "<button>Show it again</button></form>";
    if (g.state != "deleted") page += form + "delete" + fields + "<button>Delete</button></form>";
    page += "</td></tr>\n";
  }
  page += "</tbody></table><h3>Jobs</h3><ul>";
  for (const JobCount& j : v.jobs)
    page += "<li>" + E(j.kind) + ", " + E(j.state) + ": " + std::to_string(j.count) + "</li>";
  page +=
      "</ul><h3>Nodes</h3><table><thead><tr><th>Node</th><th>Started (UTC)</th><th>Last "
      "heard</th><th>Jobs done</th></tr></thead><tbody>\n";
  for (const Node& n : v.nodes)
    page += "<tr><td>" + E(n.name) + "</td><td>" + When(n.started) + "</td><td>" +
            When(n.last_beat) + "</td><td>" + std::to_string(n.jobs_done) + "</td></tr>\n";
  page +=
      "</tbody></table><h3>Quarantine</h3><table><thead><tr><th>When (UTC)</th><th>Why</th>"
      "<th>Kept as</th></tr></thead><tbody>\n";
  for (const QuarantinedMail& q : v.quarantine)
    page += "<tr><td>" + When(q.at) + "</td><td>" + E(q.reason) + "</td><td>" + E(q.file) +
            "</td></tr>\n";
  return page + "</tbody></table></section></main></body></html>\n";
}

}  // namespace moviletta::service
