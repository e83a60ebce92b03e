// The sites a visitor allowed: which origins may ever be allowed, and the consent kept on disk.
#include "host/site_consent.h"

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
}  // namespace moviletta::web
