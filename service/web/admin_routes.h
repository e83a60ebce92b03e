// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "service/store/greetings.h"
#include "service/store/store.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace moviletta::service {

// The admin page, below /admin, on any of the service's hosts: a site owner signs in (a password
// kept as a slow hash; after `lock_after` failures in a row the name is locked for `lock_for`),
// and then, for the site chosen (?site=HOST), edits the settings, adds, orders and removes skins,
// reads the error log and the registrations, and adds sites.
//   GET  /admin[?site=H&installation=I&function=F&day=D]   the page (or its sign-in form)
//   POST /admin/signin (name, password), /admin/signout
//   POST /admin/settings?site=H (a field each), /admin/sites (host)
//   POST /admin/skins?site=H (multipart: id, name, kind SKIN|STATIC, pictures: the GIF files in
//        order), /admin/skins/remove?site=H (id), /admin/skins/move?site=H (id, position)
//   GET  /admin/picture?site=H&id=N&number=I   a skin's picture, for the previews
// The session is a cookie (HttpOnly, SameSite=Strict, Path=/admin; Secure behind https) whose
// digest the store keeps; every change carries the session's CSRF token (field "csrf") and is
// refused 403 without it. A change that succeeds answers 303 to the page; a refused one answers
// 400 with the page saying why, naming the field, and changes nothing. Everything a visitor or
// sender wrote is shown escaped. Threads: the server's.
class AdminRoutes {
 public:
  struct Policy {
    int lock_after = 5;
    std::chrono::seconds lock_for{std::chrono::minutes(15)};
    std::chrono::seconds session_for{std::chrono::hours(12)};
  };

  // `store` must outlive the routes; InitSecrets must have run.
  AdminRoutes(Store& store, Clock clock, Policy policy);
  AdminRoutes(Store& store, Clock clock) : AdminRoutes(store, std::move(clock), Policy{}) {}
  // The page also lists these greetings (their files under `data`), their jobs and the
  // quarantined mails, and lets the owner show a reported greeting again or delete one;
  // `greetings` must outlive the routes.
  void ShowGreetings(Greetings& greetings, std::filesystem::path data) {
    greetings_ = &greetings;
    data_ = std::move(data);
  }

  void Register(httplib::Server& server);

 private:
  std::optional<AdminSession> SessionOf(const httplib::Request& req);
  void SignIn(const httplib::Request& req, httplib::Response& res);
  // The changes to site `site` (of host `host`) by `session`'s administrator.
  void ChangeSettings(const AdminSession& session, int64_t site, const std::string& host,
                      const httplib::Request& req, httplib::Response& res);
  void AddSkin(const AdminSession& session, int64_t site, const std::string& host,
               const httplib::Request& req, httplib::Response& res);
  // Answers with the page for `session`, `refused` shown (400) when not empty.
  void ShowPage(const AdminSession& session, const httplib::Request& req, httplib::Response& res,
                const std::string& refused = "");

  Store& store_;
  Greetings* greetings_ = nullptr;
  std::filesystem::path data_;
  Clock clock_;
  Policy policy_;
};

}  // namespace moviletta::service
