// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/protocol_routes.h"

#include <httplib.h>

#include <iostream>

#include "moviletta/common/constants.h"
#include "service/web/field_text.h"
#include "service/web/site_settings.h"

namespace moviletta::service {
namespace {

using httplib::Request;
using httplib::Response;

std::string Param(const Request& req, const char* key) {
  return KeptText(req.get_param_value(key));
}

// Every query field, a "key=value" line each, as kept.
std::string WholeQuery(const Request& req) {
  std::string lines;
  for (const auto& [key, value] : req.params)
    lines += KeptText(key, 100) + "=" + KeptText(value) + "\n";
  return lines;
}

std::optional<int32_t> SkinId(const std::string& text) {
  try {
    std::size_t used = 0;
    const long long id = std::stoll(text, &used);
    if (used != text.size() || id < INT32_MIN || id > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(id);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::string SelfAddress(const Request& req) {
  const bool https = req.get_header_value("X-Forwarded-Proto") == "https";
  return (https ? "https://" : "http://") + req.get_header_value("Host");
}

ProtocolRoutes::ProtocolRoutes(Store& store, Clock clock, Limits limits)
    : store_(store), clock_(std::move(clock)), limits_(limits) {}

std::optional<int64_t> ProtocolRoutes::SiteOf(const Request& req) {
  return store_.SiteOf(req.get_header_value("Host"));
}

bool ProtocolRoutes::Admitted(const Request& req) {
  if (req.get_param_value("sPassword") == kServerPassword) return true;
  std::cerr << "refused " << req.path << " from " << req.remote_addr << " for "
            << KeptText(req.get_header_value("Host"), 200) << ": wrong password\n";
  return false;
}

void ProtocolRoutes::Register(httplib::Server& server) {
  // Each route runs for a known site only.
  const auto for_site = [this](auto handler) {
    return [this, handler](const Request& req, Response& res) {
      const std::optional<int64_t> site = SiteOf(req);
      if (!site) {
        res.status = 404;
        return res.set_content("no such greeting site", "text/plain");
      }
      res.set_header("Cache-Control", "no-store");
      handler(*site, req, res);
    };
  };

  server.Get("/clientSettings.asp",
             for_site([this](int64_t site, const Request& req, Response& res) {
               if (!Admitted(req))
                 return void(res.status = 403);  // no document: the studio's reading fails
               res.set_content(SettingsDocument(store_.Settings(site), SelfAddress(req)),
                               "text/xml; charset=utf-8");
             }));

  server.Get("/clientErrLog.asp", for_site([this](int64_t site, const Request& req, Response& res) {
               if (!Admitted(req)) return void(res.status = 403);
               ErrorReport report{clock_(),
                                  Param(req, "sInstallationID"),
                                  Param(req, "sCurrentVersion"),
                                  Param(req, "sErrInFunction"),
                                  Param(req, "sErrInSection"),
                                  Param(req, "sErrCode"),
                                  Param(req, "sErrDesc"),
                                  Param(req, "sErrSource"),
                                  Param(req, "sAddInfo"),
                                  WholeQuery(req)};
               store_.AddReport(site, report, limits_.reports_per_minute);
               res.set_content("OK", "text/plain");
             }));

  server.Get("/register.asp", for_site([this](int64_t site, const Request& req, Response& res) {
               if (!Admitted(req)) return void(res.status = 403);
               store_.Register(site, Param(req, "sInstallationID"), Param(req, "sCurrentVersion"),
                               clock_(), limits_.announcements_per_minute);
               res.set_content("OK", "text/plain");
             }));

  server.Get(
      "/skinType.asp", for_site([this](int64_t site, const Request& req, Response& res) {
        std::string answer = "NONE";
        const std::optional<int32_t> id = SkinId(req.get_param_value("lSkinID"));
        if (!Admitted(req))
          res.status = 403;
        else if (const std::optional<Skin> skin = id ? store_.SkinOf(site, *id) : std::nullopt)
          answer = skin->kind == "SKIN"
                       ? "SKIN," + std::to_string(skin->id) + "/," + std::to_string(skin->frames)
                       : "STATIC," + std::to_string(skin->id) + ".gif";
        res.set_content(answer, "text/plain");
      }));

  const auto picture = [this](int64_t site, const std::string& id_text, int32_t number,
                              const std::string& kind, Response& res) {
    const std::optional<int32_t> id = SkinId(id_text);
    const std::optional<Skin> skin = id ? store_.SkinOf(site, *id) : std::nullopt;
    const std::optional<std::string> bytes =
        skin && skin->kind == kind ? store_.SkinPicture(site, *id, number) : std::nullopt;
    if (!bytes) return void(res.status = 404);
    res.set_content(*bytes, "image/gif");
  };
  server.Get(R"(/skins/(-?\d{1,10})/(\d{1,6})\.gif)",
             for_site([picture](int64_t site, const Request& req, Response& res) {
               picture(site, req.matches[1], std::stoi(req.matches[2]), "SKIN", res);
             }));
  server.Get(R"(/skins/(-?\d{1,10})\.gif)",
             for_site([picture](int64_t site, const Request& req, Response& res) {
               picture(site, req.matches[1], 1, "STATIC", res);
             }));

  server.Get("/skinCatalogue.asp",
             for_site([this](int64_t site, const Request& req, Response& res) {
               const std::string pictures = SelfAddress(req) + "/skins/";
               std::string lines;
               for (const Skin& skin : store_.Skins(site)) {
                 if (skin.id == kPlaceholderSkin)
                   continue;  // shown while a skin downloads, not chosen
                 std::string name = skin.name;
                 std::replace_if(
                     name.begin(), name.end(), [](char c) { return c == ',' || c == '\n'; }, ' ');
                 const std::string id = std::to_string(skin.id);
                 lines += id + "," + name + "," + pictures + id +
                          (skin.kind == "SKIN" ? "/1.gif" : ".gif") + "\n";
               }
               res.set_content(lines, "text/plain; charset=utf-8");
             }));
}

}  // namespace moviletta::service
