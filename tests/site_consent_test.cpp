// SPDX-License-Identifier: GPL-3.0-or-later
// The sites a visitor allowed: which origins may ever be allowed, and the consent kept on disk.
#include "host/access/site_consent.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "moviletta/common/error.h"

namespace moviletta::web {
namespace {

TEST(SiteConsent, OnlySecureSitesAndThisMachineCanBeAllowedAndEachOriginHasOneSpelling) {
  const auto canonical = [](std::string_view origin) {
    return SiteConsent::Canonical(origin).value_or("refused");
  };
  EXPECT_EQ(canonical("https://Greetings.Example.org"), "https://greetings.example.org");
  EXPECT_EQ(canonical("https://greetings.example.org:443"), "https://greetings.example.org");
  EXPECT_EQ(canonical("https://greetings.example.org:8443"), "https://greetings.example.org:8443");
  EXPECT_EQ(canonical("http://127.0.0.1:8080"), "http://127.0.0.1:8080");
  EXPECT_EQ(canonical("http://localhost:80"), "http://localhost");
  EXPECT_EQ(canonical("https://[::1]:5000"), "https://[::1]:5000");
  for (const char* refused :
       {"http://greetings.example.org", "http://127.0.0.1.example.org", "https://x.org/",
        "https://x.org/path", "https://user@x.org", "https://x.org?q", "https://x.org:0",
        "https://x.org:70000", "null", "file://", "javascript:alert(1)", "https://-x.org",
        "https://x..org", "https://x.org\r\nSet-Cookie: a=b", ""})
    EXPECT_EQ(canonical(refused), "refused") << refused;
}

TEST(SiteConsent, AllowedSitesKeepTheirOwnTokensAcrossARestartUntilRevoked) {
  const std::string file = ::testing::TempDir() + "consent-" + std::to_string(getpid()) + ".json";
  std::string token;
  {
    SiteConsent consent(file);
    EXPECT_TRUE(consent.Origins().empty()) << "nothing is allowed by default";
    token = consent.Allow("https://Greetings.Example.org");
    const std::string other = consent.Allow("http://127.0.0.1:9000");
    EXPECT_NE(token, other);
    EXPECT_TRUE(consent.Admits("https://greetings.example.org", token));
    EXPECT_FALSE(consent.Admits("https://greetings.example.org", other)) << "another site's";
    EXPECT_FALSE(consent.Admits("https://evil.example.org", token));
    EXPECT_THROW(consent.Allow("http://evil.example.org"), Error);
  }
  SiteConsent again(file);
  EXPECT_EQ(again.Origins(),
            (std::vector<std::string>{"http://127.0.0.1:9000", "https://greetings.example.org"}));
  EXPECT_TRUE(again.Admits("https://greetings.example.org", token));
  EXPECT_EQ(again.Allow("https://greetings.example.org"), token) << "its other pages go on";
  EXPECT_TRUE(again.Revoke("https://greetings.example.org"));
  EXPECT_FALSE(again.Revoke("https://greetings.example.org"));
  EXPECT_FALSE(SiteConsent(file).Allowed("https://greetings.example.org"));
  const std::string renewed = again.Allow("https://greetings.example.org");
  EXPECT_NE(renewed, token) << "allowed anew after a revoke";
  EXPECT_FALSE(again.Admits("https://greetings.example.org", token));

  std::ofstream(file) << R"({"http://evil.example.org": "t", "https://ok.example.org": 5})";
  EXPECT_TRUE(SiteConsent(file).Origins().empty()) << "what could never be allowed is not read";
  std::filesystem::remove(file);
}

}  // namespace
TEST(SiteConsent, ASiteMayNameASecureGreetingServerKeptWithItsConsent) {
  const auto server = [](std::string_view named, std::string_view origin) {
    return SiteConsent::CanonicalServer(named, origin).value_or("<refused>");
  };
  EXPECT_EQ(server("", "https://a.example.org"), "") << "none named: its own origin";
  EXPECT_EQ(server("https://Greetings.Example.net:443/api/", "https://a.example.org"),
            "https://greetings.example.net/api");
  EXPECT_EQ(server("http://greetings.example.net", "https://a.example.org"), "<refused>");
  EXPECT_EQ(server("http://127.0.0.1:8080", "https://a.example.org"), "<refused>")
      << "this machine only for a site on this machine";
  EXPECT_EQ(server("http://127.0.0.1:8080", "http://localhost:9000"), "http://127.0.0.1:8080");
  for (const char* bad : {"https://a.example.org/x?y=1", "https://a.example.org/#x",
                          "ftp://a.example.org", "https://a b.example.org", "https://"})
    EXPECT_EQ(server(bad, "https://a.example.org"), "<refused>") << bad;

  const std::string file = ::testing::TempDir() + "consent-server-" + std::to_string(getpid());
  std::ofstream(file) << R"({"https://old.example.org": "0123456789abcdef0123456789abcdef"})";
  {
    SiteConsent consent(file);
    EXPECT_TRUE(consent.Admits("https://old.example.org", "0123456789abcdef0123456789abcdef"))
        << "an earlier file is read";
    const std::string token =
        consent.Allow("https://a.example.org", "https://greetings.example.net");
    EXPECT_EQ(consent.Allow("https://a.example.org", "https://greetings.example.net"), token);
    EXPECT_THROW(consent.Allow("https://b.example.org", "http://greetings.example.net"), Error);
    EXPECT_FALSE(consent.Allowed("https://b.example.org"));
  }
  const SiteConsent again(file);
  EXPECT_EQ(again.ServerOf("https://a.example.org"), "https://greetings.example.net");
  EXPECT_EQ(again.ServerOf("https://old.example.org"), "");
  std::remove(file.c_str());
}

}  // namespace moviletta::web
