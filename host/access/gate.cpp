// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/access/gate.h"

#include "host/access/secret.h"

namespace moviletta::web {

Gate::Gate(int port, std::string launch_token, const SiteConsent* consent)
    : own_host_("127.0.0.1:" + std::to_string(port)),
      own_origin_("http://" + own_host_),
      launch_token_(std::move(launch_token)),
      consent_(consent) {}

Verdict Gate::Decide(const RequestFacts& facts) const {
  using Kind = Verdict::Kind;
  const bool own_page = OwnPage(facts.origin);
  const bool allowed_site = !own_page && consent_ && consent_->Allowed(facts.origin);
  const std::string cors = allowed_site ? facts.origin : "";
  const auto refuse = [&](int status) { return Verdict{Kind::kRefuse, status, "", cors}; };
  if (facts.host != own_host_) return refuse(421);
  if (facts.method == "GET" && facts.path == "/identity") return {Kind::kPublic, 0, "", "*"};
  if (!own_page && !allowed_site) return refuse(403);
  if (facts.origin.empty() && facts.method != "GET") return refuse(403);
  if (facts.method == "GET" && facts.path == "/proof")
    return {Kind::kAdmit, 0, allowed_site ? facts.origin : "", cors};
  if (allowed_site && facts.method == "OPTIONS") return {Kind::kPreflight, 204, "", cors};
  const bool launch = SameSecret(facts.token, launch_token_);
  // From no origin (a picture, a navigation) the request may come from an allowed site's page.
  const std::optional<std::string> site =
      consent_ && !launch ? consent_->OriginOf(facts.token) : std::nullopt;
  const bool admitted = own_page ? launch || (facts.origin.empty() && site)
                                 : consent_->Admits(facts.origin, facts.token);
  const bool public_file =
      facts.method == "GET" &&
      (facts.path.starts_with("/web/") || facts.path == "/favicon.ico" || facts.path == "/consent");
  if (!admitted && !public_file) return refuse(403);
  if (facts.declared_length > kMaxBodyBytes) return refuse(413);
  if (!admitted) return {Kind::kPublic, 0, "", cors};
  return {Kind::kAdmit, 0, admitted && !launch ? site.value_or(facts.origin) : "", cors};
}

}  // namespace moviletta::web
