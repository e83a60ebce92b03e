// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "host/access/site_consent.h"

namespace moviletta::web {

// What the gate is told of a request: its method and path and the headers that decide.
struct RequestFacts {
  std::string method;
  std::string path;
  std::string host;              // the Host header
  std::string origin;            // the Origin header, "" when none was sent
  std::string token;             // the query's "token", else the X-Moviletta-Token header
  uint64_t declared_length = 0;  // the Content-Length header, 0 without one
};

// The gate's answer to a request.
struct Verdict {
  enum class Kind {
    kRefuse,     // answer `status` and close the connection, reading nothing more
    kPreflight,  // an allowed site's CORS preflight: answer it
    kAdmit,      // the request goes on to its route, speaking for `caller`
    kPublic,     // a public file (or /identity) that anyone may fetch: it speaks for no one
  };
  Kind kind = Kind::kRefuse;
  int status = 0;            // of a refusal
  std::string caller;        // admitted: "" the studio's own page, else the allowed site's origin
  std::string allow_origin;  // the Access-Control-Allow-Origin to answer with, "" for none
  bool operator==(const Verdict&) const = default;
};

// Who may use the studio at 127.0.0.1:`port`: its own page with the launch token, and the sites
// `consent` allows (null: none), each with its own token. Decide is a function of the request's
// facts and the allowed sites only, so every route and every stream asks the same question:
// - a Host other than the studio's own: 421;
// - GET /identity: any page, public (allow origin "*");
// - GET /proof: the studio's page and the allowed sites, without a token (the page checks the
//   studio's proof before it sends one);
// - an Origin that is neither the studio's page nor an allowed site: 403, no CORS headers;
// - a request without an Origin that changes something (not a GET): 403;
// - an allowed site's OPTIONS: the preflight;
// - no fitting token (the launch token from the studio's page, or from no origin; a site's own
//   token from that site, or from no origin): 403, except the page's public files (GET /web/...,
//   /favicon.ico, /consent), which are public;
// - a body declared larger than kMaxBodyBytes: 413;
// - else admitted. An allowed site's requests, refused or not, carry its CORS origin.
// Threads: any, as `consent`.
class Gate {
 public:
  static constexpr uint64_t kMaxBodyBytes = uint64_t{1} << 20;

  Gate(int port, std::string launch_token, const SiteConsent* consent);

  Verdict Decide(const RequestFacts& facts) const;
  // The studio page's own origin, "http://127.0.0.1:<port>".
  const std::string& own_origin() const { return own_origin_; }
  // "127.0.0.1:<port>".
  const std::string& own_host() const { return own_host_; }
  // Whether `origin` is the studio's own page, or none was sent.
  bool OwnPage(const std::string& origin) const { return origin.empty() || origin == own_origin_; }

 private:
  std::string own_host_;
  std::string own_origin_;
  std::string launch_token_;
  const SiteConsent* consent_;
};

}  // namespace moviletta::web
