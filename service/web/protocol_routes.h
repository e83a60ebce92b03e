// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "service/store/store.h"

namespace httplib {
class Server;
struct Request;
}  // namespace httplib

namespace moviletta::service {

// The studio's side of a greeting site, for every site of the store (known by the request's
// Host): GET
//   /clientSettings.asp   the settings document (text/xml)
//   /clientErrLog.asp     an error report, kept with its time and every query field: "OK"
//   /register.asp         an installation's announcement: "OK"
//   /skinType.asp?lSkinID=N   "SKIN,<N>/,<frames>", "STATIC,<N>.gif" or "NONE"
//   /skins/<N>/<i>.gif, /skins/<N>.gif   the pictures of an animated and of a static skin
//   /skinCatalogue.asp    the skins a visitor may choose, a line each: "<id>,<name>,<picture URL>"
// Every request with a query must carry the studio's password (sPassword); a wrong one is
// answered 403 as a refusal the studio reads as one (an empty document, "NONE"), and logged to
// standard error. A host the store does not know is answered 404. Reports and announcements
// over their limit per installation and minute are answered "OK" and counted, not kept.
// Threads: the server's; the store is safe for them.
class ProtocolRoutes {
 public:
  struct Limits {
    int reports_per_minute = 30;
    int announcements_per_minute = 10;
  };

  // `store` must outlive the routes.
  ProtocolRoutes(Store& store, Clock clock, Limits limits);
  ProtocolRoutes(Store& store, Clock clock) : ProtocolRoutes(store, std::move(clock), Limits{}) {}

  // Adds the routes to `server`.
  void Register(httplib::Server& server);

 private:
  // The site the request is for, or nothing.
  std::optional<int64_t> SiteOf(const httplib::Request& req);
  // Whether the request carries the studio's password; logs the refusal when it does not.
  static bool Admitted(const httplib::Request& req);

  Store& store_;
  Clock clock_;
  Limits limits_;
};

// "http://<Host>" (https when a proxy in front says so with X-Forwarded-Proto).
std::string SelfAddress(const httplib::Request& req);

}  // namespace moviletta::service
