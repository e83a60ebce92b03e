// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "moviletta/common/mutex.h"

namespace moviletta::web {

// The sites whose pages the visitor allowed to drive the control, by origin, each with a token
// of its own and the greeting server it named (none: its own origin), kept in a JSON file
// ({"origin": {"token", "server"}}; an earlier file's {"origin": "token"} is read too). Nothing is
// allowed until the visitor allows it. Any thread.
class SiteConsent {
 public:
  // Reads `file`; a missing or unreadable file allows nothing.
  explicit SiteConsent(std::string file);

  // `origin` as "scheme://host[:port]" in lower case without its scheme's default port, or
  // nothing when it may never be allowed: anything but https, except http to this machine
  // (localhost, 127.x.x.x, [::1]); a path, user, query or character an origin cannot hold.
  static std::optional<std::string> Canonical(std::string_view origin);

  // The greeting server a site at `origin` may name, without a trailing "/": https, or http on
  // this machine for a site on this machine, with an optional path; "" for none named; nothing
  // when it may not be used.
  static std::optional<std::string> CanonicalServer(std::string_view server,
                                                    std::string_view origin);

  // Allows `origin`, with the greeting server `server` it names ("" for its own origin), and
  // returns its token: the one it has when it is allowed already (its other pages go on), else a
  // new one (after a Revoke too). Throws Error 5 for an origin or a server that may not be
  // allowed, and Error 75 when the file cannot be written (then nothing changes).
  std::string Allow(std::string_view origin, std::string_view server = "");
  // False when `origin` was not allowed.
  bool Revoke(std::string_view origin);
  // Whether `origin` is allowed and `token` is its token.
  bool Admits(std::string_view origin, const std::string& token) const;
  bool Allowed(std::string_view origin) const;
  // Proof(token of `origin`, `nonce`, `host`) (host/access/secret.h), nothing when `origin` is
  // not allowed.
  std::optional<std::string> Prove(std::string_view origin, std::string_view nonce,
                                   std::string_view host) const;
  // The allowed origin whose token `token` is, or nothing.
  std::optional<std::string> OriginOf(const std::string& token) const;
  // The allowed origins, in order.
  std::vector<std::string> Origins() const;
  // The greeting server `origin` named when it was allowed, "" for none.
  std::string ServerOf(std::string_view origin) const;

 private:
  struct Site {
    std::string token;
    std::string server;
  };
  using Tokens = std::map<std::string, Site, std::less<>>;
  // Writes `next` to the file, then makes it the allowed sites; unchanged when writing fails.
  void Keep(Tokens next) REQUIRES(mutex_);

  const std::string file_;
  mutable Mutex mutex_;
  Tokens tokens_ GUARDED_BY(mutex_);
};

}  // namespace moviletta::web
