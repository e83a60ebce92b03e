// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/access/gate.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace moviletta::web {
namespace {

namespace fs = std::filesystem;
using Kind = Verdict::Kind;

Verdict V(Kind kind, int status, std::string caller = "", std::string allow_origin = "") {
  return {kind, status, std::move(caller), std::move(allow_origin)};
}

// Every row of the gate's rules, as the facts of a request and the verdict they get.
TEST(Gate, DecidesEveryKindOfRequestByItsFactsAlone) {
  const fs::path file = fs::temp_directory_path() / ("moviletta-gate-" + std::to_string(getpid()));
  SiteConsent consent(file.string());
  const std::string a = "https://a.example", b = "https://b.example";
  const std::string a_token = consent.Allow(a), b_token = consent.Allow(b);
  const std::string launch = "launch-token";
  const Gate gate(47800, launch, &consent);
  const std::string self = "127.0.0.1:47800", own = "http://127.0.0.1:47800";
  constexpr uint64_t kTooLarge = Gate::kMaxBodyBytes + 1;

  struct Row {
    const char* what;
    RequestFacts facts;
    Verdict verdict;
  };
  const Row rows[] = {
      {"another Host", {"GET", "/events", "localhost:47800", "", launch, 0}, V(Kind::kRefuse, 421)},
      {"another Host, even for /identity",
       {"GET", "/identity", "evil.example", a, "", 0},
       V(Kind::kRefuse, 421, "", a)},
      {"/identity for any page",
       {"GET", "/identity", self, "https://any.example", "", 0},
       V(Kind::kPublic, 0, "", "*")},
      {"the proof for an allowed site, without its token",
       {"GET", "/proof", self, a, "", 0},
       V(Kind::kAdmit, 0, a, a)},
      {"the proof for the studio's page", {"GET", "/proof", self, own, "", 0}, V(Kind::kAdmit, 0)},
      {"no proof for an origin never allowed",
       {"GET", "/proof", self, "https://evil.example", "", 0},
       V(Kind::kRefuse, 403)},
      {"an origin never allowed",
       {"GET", "/events", self, "https://evil.example", launch, 0},
       V(Kind::kRefuse, 403)},
      {"its preflight",
       {"OPTIONS", "/call/RecordVideo", self, "https://evil.example", "", 0},
       V(Kind::kRefuse, 403)},
      {"the origin \"null\"", {"POST", "/call/X", self, "null", launch, 0}, V(Kind::kRefuse, 403)},
      {"the studio on another port",
       {"POST", "/call/X", self, "http://127.0.0.1:47801", launch, 0},
       V(Kind::kRefuse, 403)},
      {"a change from no origin", {"POST", "/call/X", self, "", launch, 0}, V(Kind::kRefuse, 403)},
      {"the studio's page", {"POST", "/call/X", self, own, launch, 0}, V(Kind::kAdmit, 0, "")},
      {"the studio's page with a site's token",
       {"POST", "/call/X", self, own, a_token, 0},
       V(Kind::kRefuse, 403)},
      {"the studio's page without a token",
       {"GET", "/events", self, own, "", 0},
       V(Kind::kRefuse, 403)},
      {"a picture with the launch token",
       {"GET", "/video/capture", self, "", launch, 0},
       V(Kind::kAdmit, 0, "")},
      {"a picture with a site's token",
       {"GET", "/video/capture", self, "", a_token, 0},
       V(Kind::kAdmit, 0, a)},
      {"a picture without a token",
       {"GET", "/take/snapshot", self, "", "", 0},
       V(Kind::kRefuse, 403)},
      {"the page's script, public", {"GET", "/web/app.js", self, "", "", 0}, V(Kind::kPublic, 0)},
      {"the consent question, public", {"GET", "/consent", self, "", "", 0}, V(Kind::kPublic, 0)},
      {"the page's script from the studio's page",
       {"GET", "/web/app.js", self, own, launch, 0},
       V(Kind::kAdmit, 0)},
      {"an allowed site's preflight",
       {"OPTIONS", "/call/X", self, a, "", 0},
       V(Kind::kPreflight, 204, "", a)},
      {"an allowed site", {"POST", "/call/X", self, a, a_token, 0}, V(Kind::kAdmit, 0, a, a)},
      {"an allowed site's stream",
       {"GET", "/events", self, a, a_token, 0},
       V(Kind::kAdmit, 0, a, a)},
      {"a site with the launch token",
       {"POST", "/call/X", self, a, launch, 0},
       V(Kind::kRefuse, 403, "", a)},
      {"a site with another site's token",
       {"POST", "/call/X", self, a, b_token, 0},
       V(Kind::kRefuse, 403, "", a)},
      {"a site without a token", {"GET", "/events", self, a, "", 0}, V(Kind::kRefuse, 403, "", a)},
      {"a body too large",
       {"POST", "/call/X", self, own, launch, kTooLarge},
       V(Kind::kRefuse, 413)},
      {"a site's body too large",
       {"POST", "/call/X", self, a, a_token, kTooLarge},
       V(Kind::kRefuse, 413, "", a)},
      {"a body too large without a token: the token decides",
       {"POST", "/call/X", self, own, "", kTooLarge},
       V(Kind::kRefuse, 403)},
  };
  for (const Row& row : rows) EXPECT_EQ(gate.Decide(row.facts), row.verdict) << row.what;

  consent.Revoke(a);
  EXPECT_EQ(gate.Decide({"GET", "/events", self, a, a_token, 0}), V(Kind::kRefuse, 403))
      << "a revoked site, no longer told its CORS origin";
  EXPECT_EQ(gate.Decide({"GET", "/video/capture", self, "", a_token, 0}), V(Kind::kRefuse, 403))
      << "a revoked site's picture";
  fs::remove(file);
}

}  // namespace
}  // namespace moviletta::web
