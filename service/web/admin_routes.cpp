// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/admin_routes.h"

#include <httplib.h>

#include <regex>

#include "moviletta/common/error.h"
#include "moviletta/server/client_settings.h"
#include "service/store/store_errors.h"
#include "service/web/admin_page.h"
#include "service/web/field_text.h"
#include "service/web/secrets.h"
#include "service/web/site_settings.h"
#include "service/web/skin_check.h"
#include "service/web/watch_routes.h"

namespace moviletta::service {
namespace {

using httplib::Request;
using httplib::Response;

constexpr const char* kCookie = "moviletta_admin";

constexpr const char* kStyle =
    R"(body{font:16px/1.5 system-ui,sans-serif;margin:0 auto;max-width:72rem;padding:1rem;color:#1b1b1b}
label{display:block;margin:.25rem 0}input,select{font:inherit;margin-left:.5rem}
form.inline{display:inline}.refused{background:#fde7e9;border-left:4px solid #b00020;padding:.5rem}
table{border-collapse:collapse;width:100%}th,td{border-bottom:1px solid #ddd;padding:.25rem;text-align:left;vertical-align:top}
.skins img{max-height:48px;background:repeating-conic-gradient(#ccc 0 25%,#fff 0 50%) 0 0/16px 16px}
)";

std::string CookieToken(const Request& req) {
  const std::string cookies = req.get_header_value("Cookie");
  const std::string key = std::string(kCookie) + "=";
  for (std::size_t at = 0; at < cookies.size();) {
    while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
    const std::size_t end = std::min(cookies.find(';', at), cookies.size());
    if (cookies.compare(at, key.size(), key) == 0)
      return cookies.substr(at + key.size(), end - at - key.size());
    at = end;
  }
  return "";
}

void SeeThePage(Response& res, const std::string& site) {
  res.status = 303;
  res.set_header("Location", "/admin?site=" + httplib::detail::encode_query_param(site));
}

// The form field `name`, from a urlencoded or a multipart body.
std::string Field(const Request& req, const char* name) {
  if (req.has_param(name)) return req.get_param_value(name);
  return req.has_file(name) ? req.get_file_value(name).content : "";
}

}  // namespace

AdminRoutes::AdminRoutes(Store& store, Clock clock, Policy policy)
    : store_(store), clock_(std::move(clock)), policy_(policy) {}

std::optional<AdminSession> AdminRoutes::SessionOf(const Request& req) {
  const std::string token = CookieToken(req);
  if (token.empty()) return std::nullopt;
  return store_.SessionOf(TokenDigest(token), clock_());
}

void AdminRoutes::Register(httplib::Server& server) {
  server.Get("/admin/style.css",
             [](const Request&, Response& res) { res.set_content(kStyle, "text/css"); });
  // Every admin route: no framing, no caching, no guessing of types.
  const auto guarded = [](auto handler) {
    return [handler](const Request& req, Response& res) {
      res.set_header("X-Frame-Options", "DENY");
      res.set_header("Content-Security-Policy",
                     "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
                     "frame-ancestors 'none'");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_header("Cache-Control", "no-store");
      res.set_header("Referrer-Policy", "no-referrer");
      handler(req, res);
    };
  };
  // A route for a signed-in administrator, whose changes carry the session's token.
  const auto signed_in = [this, guarded](bool change, auto handler) {
    return guarded([this, change, handler](const Request& req, Response& res) {
      const std::optional<AdminSession> session = SessionOf(req);
      if (!session) {
        if (change) return void(res.status = 403);
        return res.set_content(SignInPage(""), "text/html; charset=utf-8");
      }
      if (change && Field(req, "csrf") != session->csrf) {
        res.status = 403;
        return res.set_content("The form is out of date: load the page again.", "text/plain");
      }
      handler(*session, req, res);
    });
  };
  // The same for one site's page (?site=HOST, the first site when none is named).
  const auto for_site = [this, signed_in](bool change, auto handler) {
    return signed_in(
        change, [this, handler](const AdminSession& session, const Request& req, Response& res) {
          const std::vector<std::string> sites = store_.Sites();
          const std::string host = req.has_param("site") ? req.get_param_value("site")
                                   : sites.empty()       ? ""
                                                         : sites.front();
          const std::optional<int64_t> site = store_.SiteOf(host);
          if (!site) {
            res.status = 404;
            return res.set_content("No such site.", "text/plain");
          }
          handler(session, *site, host, req, res);
        });
  };

  server.Get("/admin",
             for_site(false, [this](const AdminSession& session, int64_t, auto&, const Request& req,
                                    Response& res) { ShowPage(session, req, res); }));
  server.Post("/admin/signin",
              guarded([this](const Request& req, Response& res) { SignIn(req, res); }));
  server.Post("/admin/signout",
              signed_in(true, [this](const AdminSession&, const Request& req, Response& res) {
                store_.RemoveSession(TokenDigest(CookieToken(req)));
                res.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/admin; Max-Age=0");
                res.status = 303;
                res.set_header("Location", "/admin");
              }));
  server.Post("/admin/settings",
              for_site(true, [this](const AdminSession& session, int64_t site,
                                    const std::string& host, const Request& req, Response& res) {
                ChangeSettings(session, site, host, req, res);
              }));
  server.Post("/admin/sites", signed_in(true, [this](const AdminSession& session,
                                                     const Request& req, Response& res) {
                const std::string host = Field(req, "host");
                static const std::regex kHost(R"([A-Za-z0-9.-]{1,253}(:\d{1,5})?)");
                if (!std::regex_match(host, kHost))
                  return ShowPage(session, req, res,
                                  "The host name \"" + KeptText(host, 300) +
                                      "\" is not a host name with an optional "
                                      ":port.");
                MakeSite(store_, host);
                SeeThePage(res, host);
              }));
  server.Post("/admin/skins",
              for_site(true, [this](const AdminSession& session, int64_t site,
                                    const std::string& host, const Request& req,
                                    Response& res) { AddSkin(session, site, host, req, res); }));
  // The owner's decisions on a greeting of the site: shown again after reports, or deleted.
  server.Post(R"(/admin/greetings/(show|delete))",
              for_site(true, [this](const AdminSession&, int64_t site, const std::string& host,
                                    const Request& req, Response& res) {
                std::optional<Greeting> greeting;
                try {
                  if (greetings_) greeting = greetings_->ById(std::stoll(Field(req, "id")));
                } catch (const std::logic_error&) {  // not a number: no such greeting
                }
                if (greeting && greeting->site == site) {
                  if (req.matches[1] == "show")
                    greetings_->Unhide(greeting->id);
                  else
                    DeleteGreeting(*greetings_, data_, *greeting, clock_());
                }
                SeeThePage(res, host);
              }));
  server.Post("/admin/skins/remove",
              for_site(true, [this](const AdminSession&, int64_t site, const std::string& host,
                                    const Request& req, Response& res) {
                try {
                  store_.RemoveSkin(site, std::stoi(Field(req, "id")));
                } catch (const std::logic_error&) {  // not a number: nothing to remove
                }
                SeeThePage(res, host);
              }));
  server.Post("/admin/skins/move",
              for_site(true, [this](const AdminSession&, int64_t site, const std::string& host,
                                    const Request& req, Response& res) {
                try {
                  store_.MoveSkin(site, std::stoi(Field(req, "id")),
                                  std::stoi(Field(req, "position")));
                } catch (const std::logic_error&) {
                }
                SeeThePage(res, host);
              }));
  server.Get("/admin/picture", for_site(false, [this](const AdminSession&, int64_t site, auto&,
                                                      const Request& req, Response& res) {
               std::optional<std::string> picture;
               try {
                 picture = store_.SkinPicture(site, std::stoi(req.get_param_value("id")),
                                              std::stoi(req.get_param_value("number")));
               } catch (const std::logic_error&) {
               }
               if (!picture) return void(res.status = 404);
               res.set_content(*picture, "image/gif");
             }));
}

void AdminRoutes::SignIn(const Request& req, Response& res) {
  const std::string name = Field(req, "name"), password = Field(req, "password");
  const Time now = clock_();
  const std::optional<Administrator> admin = store_.AdministratorOf(name);
  const auto refuse = [&](const std::string& why) {
    res.status = 403;
    res.set_content(SignInPage(why), "text/html; charset=utf-8");
  };
  if (admin && admin->locked_until && *admin->locked_until > now)
    return refuse("Too many failed sign-ins: this name is locked for a while. Try again later.");
  // A name that does not exist costs as much as a wrong password.
  static const std::string kNobody = HashPassword(RandomHex(16));
  if (!PasswordMatches(password, admin ? admin->password_hash : kNobody) || !admin) {
    if (admin) store_.SignInFailed(name, now, policy_.lock_after, policy_.lock_for);
    return refuse("Wrong name or password.");
  }
  store_.SignInSucceeded(name);
  const std::string token = RandomHex(32);
  store_.AddSession(TokenDigest(token), {name, RandomHex(32), now + policy_.session_for});
  const bool https = req.get_header_value("X-Forwarded-Proto") == "https";
  res.set_header("Set-Cookie", std::string(kCookie) + "=" + token +
                                   "; Path=/admin; HttpOnly; SameSite=Strict; Max-Age=" +
                                   std::to_string(policy_.session_for.count()) +
                                   (https ? "; Secure" : ""));
  res.status = 303;
  res.set_header("Location", "/admin");
}

void AdminRoutes::ChangeSettings(const AdminSession& session, int64_t site, const std::string& host,
                                 const Request& req, Response& res) {
  SettingsValues values;
  for (const ClientSettingsField& field : ClientSettingsFields())
    if (req.has_param(field.element)) values[field.element] = req.get_param_value(field.element);
  for (const ServiceSetting& setting : ServiceSettings())
    if (req.has_param(setting.element))
      values[setting.element] = req.get_param_value(setting.element);
  if (const std::string refused = RefusedSetting(values); !refused.empty())
    return ShowPage(session, req, res, "Nothing was changed: " + refused + ".");
  store_.SetSettings(site, values);
  SeeThePage(res, host);
}

void AdminRoutes::AddSkin(const AdminSession& session, int64_t site, const std::string& host,
                          const Request& req, Response& res) {
  Skin skin{-1, Field(req, "name"), Field(req, "kind")};
  try {
    std::size_t used = 0;
    const std::string id = Field(req, "id");
    skin.id = std::stoi(id, &used);
    if (used != id.size()) skin.id = -1;
  } catch (const std::logic_error&) {  // not a number: refused as out of range
  }
  std::vector<GivenPicture> given;
  std::vector<std::string> pictures;
  const auto files = req.files.equal_range("pictures");
  for (auto file = files.first; file != files.second; ++file)
    if (!file->second.content.empty()) {
      given.emplace_back(file->second.filename, file->second.content);
      pictures.push_back(file->second.content);
    }
  if (const std::string refused = RefusedSkin(skin, given); !refused.empty())
    return ShowPage(session, req, res, "The skin was not added: " + refused);
  store_.PutSkin(site, skin, pictures);
  SeeThePage(res, host);
}

void AdminRoutes::ShowPage(const AdminSession& session, const Request& req, Response& res,
                           const std::string& refused) {
  AdminView view;
  view.admin = session.name;
  view.csrf = session.csrf;
  view.sites = store_.Sites();
  view.site = req.has_param("site") ? req.get_param_value("site")
              : view.sites.empty()  ? ""
                                    : view.sites.front();
  view.refusal = refused;
  if (const std::optional<int64_t> site = store_.SiteOf(view.site)) {
    view.settings = store_.Settings(*site);
    view.skins = store_.Skins(*site);
    view.filter = {req.get_param_value("installation"), req.get_param_value("function"),
                   req.get_param_value("day"), 200};
    view.reports = store_.Reports(*site, view.filter);
    view.reports_per_day = store_.ReportsPerDay(*site);
    view.refused = store_.Refused(*site);
    view.registrations = store_.Registrations(*site);
    if (greetings_) {
      view.greetings = greetings_->OfSite(*site);
      view.jobs = greetings_->JobCounts();
      view.nodes = greetings_->Nodes();
      view.quarantine = greetings_->Quarantined();
    }
  }
  if (!refused.empty()) res.status = 400;
  res.set_content(AdminPage(view), "text/html; charset=utf-8");
}

}  // namespace moviletta::service
