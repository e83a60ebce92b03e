// SPDX-License-Identifier: GPL-3.0-or-later
// The admin page as a site owner and as an attacker use it: sign-in and its lock-out, changes
// only with the session's token, refusals that name what is wrong and change nothing, and what
// visitors sent shown as text.
#include <gtest/gtest.h>

#include <regex>

#include "moviletta/common/constants.h"
#include "service/web/service_fixture_test.h"
#include "tests/fixtures/gif_files.h"

namespace moviletta::service {
namespace {

class AdminTest : public ServiceTest {
 protected:
  AdminTest() { store_.AddAdministrator("ann", HashPassword("right horse")); }

  // Signs in; the session's cookie and the page's CSRF token.
  std::pair<std::string, std::string> SignIn() {
    const auto res = client_.Post("/admin/signin", "name=ann&password=right+horse",
                                  "application/x-www-form-urlencoded");
    EXPECT_EQ(res->status, 303);
    const std::string cookie = res->get_header_value("Set-Cookie");
    const std::string pair = cookie.substr(0, cookie.find(';'));
    const auto page = client_.Get("/admin", {{"Cookie", pair}});
    std::smatch token;
    EXPECT_TRUE(
        std::regex_search(page->body, token, std::regex("name=\"csrf\" value=\"([0-9a-f]+)\"")));
    return {pair, token[1]};
  }

  httplib::Result Post(const std::string& path, const std::string& form,
                       const std::string& cookie) {
    return client_.Post(path, {{"Cookie", cookie}}, form, "application/x-www-form-urlencoded");
  }

  httplib::Client client_{"127.0.0.1", port_};
};

TEST_P(AdminTest, SignInSetsAStrictCookieAndRepeatedFailuresLockTheName) {
  const auto form = client_.Get("/admin");
  EXPECT_EQ(form->status, 200);
  EXPECT_NE(form->body.find("action=\"/admin/signin\""), std::string::npos);
  EXPECT_EQ(form->body.find("SMTPPWD"), std::string::npos) << "nothing before signing in";

  const auto good = client_.Post("/admin/signin", "name=ann&password=right+horse",
                                 "application/x-www-form-urlencoded");
  ASSERT_EQ(good->status, 303);
  const std::string cookie = good->get_header_value("Set-Cookie");
  for (const char* attribute : {"HttpOnly", "SameSite=Strict", "Path=/admin"})
    EXPECT_NE(cookie.find(attribute), std::string::npos) << attribute << " in " << cookie;
  EXPECT_EQ(cookie.find("Secure"), std::string::npos) << "plain http here";
  const auto proxied =
      client_.Post("/admin/signin", {{"X-Forwarded-Proto", "https"}},
                   "name=ann&password=right+horse", "application/x-www-form-urlencoded");
  EXPECT_NE(proxied->get_header_value("Set-Cookie").find("Secure"), std::string::npos);

  // Three wrong passwords lock the name (the policy here): the right one is refused too, until
  // the lock ends.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(
        client_
            .Post("/admin/signin", "name=ann&password=guess", "application/x-www-form-urlencoded")
            ->status,
        403);
  const auto locked = client_.Post("/admin/signin", "name=ann&password=right+horse",
                                   "application/x-www-form-urlencoded");
  EXPECT_EQ(locked->status, 403);
  EXPECT_NE(locked->body.find("locked"), std::string::npos);
  now_ += std::chrono::minutes(16);
  EXPECT_EQ(client_
                .Post("/admin/signin", "name=ann&password=right+horse",
                      "application/x-www-form-urlencoded")
                ->status,
            303);
  EXPECT_EQ(
      client_.Post("/admin/signin", "name=nobody&password=x", "application/x-www-form-urlencoded")
          ->status,
      403);
}

TEST_P(AdminTest, ChangesNeedTheSessionsTokenAndBadValuesChangeNothing) {
  const auto [cookie, csrf] = SignIn();
  const std::string site = "site=" + httplib::detail::encode_query_param(host_);
  EXPECT_EQ(Post("/admin/settings?" + site, "FPS=30", cookie)->status, 403) << "no token";
  EXPECT_EQ(Post("/admin/settings?" + site, "FPS=30&csrf=" + csrf, "")->status, 403)
      << "no session";
  EXPECT_EQ(store_.Settings(site_)["FPS"], "15");

  EXPECT_EQ(Post("/admin/settings?" + site, "FPS=30&SECLIMIT=120&csrf=" + csrf, cookie)->status,
            303);
  EXPECT_EQ(store_.Settings(site_)["FPS"], "30");
  EXPECT_EQ(store_.Settings(site_)["SECLIMIT"], "120");
  EXPECT_EQ(Post("/admin/settings?" + site,
                 "KEEPDAYS=30&RELAY=smtp%3A%2F%2Frelay.example%3A587&csrf=" + csrf, cookie)
                ->status,
            303);
  EXPECT_EQ(store_.Settings(site_)["KEEPDAYS"], "30");
  EXPECT_EQ(store_.Settings(site_)["RELAY"], "smtp://relay.example:587");

  for (const auto& [form, field] :
       std::vector<std::pair<std::string, std::string>>{{"FPS=61", "FPS"},
                                                        {"SECLIMIT=0", "SECLIMIT"},
                                                        {"FPS=ten", "FPS"},
                                                        {"SENDTO=bob%40example", "SENDTO"},
                                                        {"SKIN=javascript%3Aalert(1)", "SKIN"},
                                                        {"OUTPUT=avi", "OUTPUT"},
                                                        {"RELAY=ftp%3A%2F%2Fx", "RELAY"},
                                                        {"SMSGATEWAY=x%40y.z", "SMSGATEWAY"},
                                                        {"KEEPDAYS=0", "KEEPDAYS"}}) {
    const auto refused = Post("/admin/settings?" + site, form + "&SECLIMIT=5&csrf=" + csrf, cookie);
    EXPECT_EQ(refused->status, 400) << form;
    EXPECT_NE(refused->body.find("Nothing was changed: " + field), std::string::npos)
        << form << ": " << refused->body.substr(0, 300);
    EXPECT_EQ(store_.Settings(site_)["SECLIMIT"], "120") << form << " changed another field";
  }

  // Signed out, the cookie no longer works.
  EXPECT_EQ(Post("/admin/signout", "csrf=" + csrf, cookie)->status, 303);
  EXPECT_EQ(Post("/admin/settings?" + site, "FPS=20&csrf=" + csrf, cookie)->status, 403);
}

TEST_P(AdminTest, SkinsAreCheckedBeforeTheyAreKept) {
  const auto signed_in = SignIn();
  const std::string cookie = signed_in.first, csrf = signed_in.second;
  const std::string path = "/admin/skins?site=" + httplib::detail::encode_query_param(host_);
  const auto upload = [&](const std::string& id, const std::string& kind,
                          const std::vector<std::string>& pictures) {
    httplib::MultipartFormDataItems items{{"csrf", csrf, "", ""},
                                          {"id", id, "", ""},
                                          {"name", "Star <b>", "", ""},
                                          {"kind", kind, "", ""}};
    for (std::size_t i = 0; i < pictures.size(); ++i)
      items.push_back({"pictures", pictures[i], std::to_string(i + 1) + ".gif", "image/gif"});
    return client_.Post(path, {{"Cookie", cookie}}, items);
  };
  const std::string frame = testing::SolidGif(8, 6, {255, 0, 255});
  EXPECT_EQ(upload("42", "SKIN", {frame, frame, frame})->status, 303);
  ASSERT_TRUE(store_.SkinOf(site_, 42));
  EXPECT_EQ(store_.SkinOf(site_, 42)->frames, 3);

  // A GIF whose header promises a huge screen, a truncated one, and not a GIF at all.
  testing::TestGif huge;
  huge.screen_width = huge.screen_height = 60000;
  const std::string truncated = frame.substr(0, frame.size() / 2);
  for (const std::string& hostile : {testing::GifBytes(huge), truncated, std::string("<svg/>")}) {
    const auto refused = upload("43", "SKIN", {frame, hostile});
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(refused->body.find("2.gif is not a picture a skin may have"), std::string::npos)
        << refused->body.substr(0, 400);
    EXPECT_EQ(store_.SkinOf(site_, 43), std::nullopt);
  }
  EXPECT_EQ(upload("7", "STATIC", {frame, frame})->status, 400) << "a static skin is one picture";
  EXPECT_EQ(upload("-1", "STATIC", {frame})->status, 400) << "-1 means no skin";
  EXPECT_EQ(store_.Skins(site_).size(), 1u);

  // The page names the skin as text, and its picture is the owner's to preview.
  const auto page = client_.Get("/admin", {{"Cookie", cookie}});
  EXPECT_NE(page->body.find("Star &lt;b&gt;"), std::string::npos);
  EXPECT_EQ(page->body.find("Star <b>"), std::string::npos);
  const std::string picture =
      "/admin/picture?site=" + httplib::detail::encode_query_param(host_) + "&id=42&number=2";
  EXPECT_EQ(client_.Get(picture, {{"Cookie", cookie}})->body, frame);
  EXPECT_NE(client_.Get(picture)->body, frame) << "not without a session";
}

TEST_P(AdminTest, WhatVisitorsSentIsShownAsText) {
  store_.AddReport(site_,
                   {now_, "inst\"><script>alert(1)</script>", "1.6", "LoadSkin",
                    "<img src=x onerror=alert(2)>", "5", "<script>alert(3)</script>", "s", "0", ""},
                   10);
  store_.Register(site_, "<b>inst</b>", "1.6", now_, 10);
  const auto [cookie, csrf] = SignIn();
  const auto page = client_.Get("/admin", {{"Cookie", cookie}});
  ASSERT_EQ(page->status, 200);
  EXPECT_EQ(page->body.find("<script>"), std::string::npos);
  EXPECT_EQ(page->body.find("<img src=x"), std::string::npos);
  EXPECT_NE(page->body.find("&lt;script&gt;alert(3)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page->body.find("&lt;b&gt;inst&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"),
            std::string::npos);
  EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY");
  // Filtered by a function that no report has: none shown, the counts per day stay.
  const auto none = client_.Get("/admin?function=Wait", {{"Cookie", cookie}});
  EXPECT_EQ(none->body.find("LoadSkin</td>"), std::string::npos);
  EXPECT_NE(none->body.find("2024-10-04: 1"), std::string::npos);
}

TEST_P(AdminTest, AnOwnerAddsASiteThatServesItsOwnSettings) {
  const auto [cookie, csrf] = SignIn();
  EXPECT_EQ(Post("/admin/sites", "host=bad%20host&csrf=" + csrf, cookie)->status, 400);
  EXPECT_EQ(Post("/admin/sites", "host=greetings.example&csrf=" + csrf, cookie)->status, 303);
  const std::optional<int64_t> added = store_.SiteOf("greetings.example");
  ASSERT_TRUE(added);
  EXPECT_EQ(store_.Settings(*added)["SENDTO"], "greetings@greetings.example");
  const auto settings = client_.Get("/clientSettings.asp?sPassword=" + std::string(kServerPassword),
                                    {{"Host", "greetings.example"}});
  EXPECT_NE(settings->body.find("<SITE>greetings.example</SITE>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& engine) { return engine.param; });

}  // namespace
}  // namespace moviletta::service

namespace moviletta::service {
namespace {

// A greeting reported three times is hidden until the owner decides: shown again, or deleted; a
// decision names a greeting of the site the page shows, no other.
TEST_P(AdminTest, TheOwnerDecidesOnAReportedGreeting) {
  const auto [cookie, csrf] = SignIn();
  Greeting g;
  g.site = site_, g.mail_key = "k", g.kind = "greeting", g.token = "t", g.delete_token = "d";
  g.sender_name = "Mallory <script>", g.taken_at = now_;
  const int64_t id = greetings_.Take(g);
  for (int i = 0; i < 3; ++i) greetings_.Report(id, 3);
  greetings_.Beat("node-7", now_, now_, 12);
  const auto page = client_.Get("/admin", {{"Cookie", cookie}});
  EXPECT_NE(page->body.find("<td>node-7</td>"), std::string::npos) << "the nodes are listed";
  EXPECT_NE(page->body.find("reported, hidden"), std::string::npos);
  EXPECT_NE(page->body.find("Mallory &lt;script&gt;"), std::string::npos);
  EXPECT_NE(page->body.find("Show it again"), std::string::npos);

  MakeSite(store_, "other.example");
  EXPECT_EQ(Post("/admin/greetings/delete?site=other.example",
                 "id=" + std::to_string(id) + "&csrf=" + csrf, cookie)
                ->status,
            303);
  EXPECT_EQ(greetings_.ById(id)->state, "taken") << "not that site's greeting";
  const std::string site = "site=" + host_;
  EXPECT_EQ(Post("/admin/greetings/show?" + site, "id=" + std::to_string(id), cookie)->status, 403)
      << "no token";
  EXPECT_TRUE(greetings_.ById(id)->hidden);
  Post("/admin/greetings/show?" + site, "id=" + std::to_string(id) + "&csrf=" + csrf, cookie);
  EXPECT_FALSE(greetings_.ById(id)->hidden);
  Post("/admin/greetings/delete?" + site, "id=" + std::to_string(id) + "&csrf=" + csrf, cookie);
  EXPECT_EQ(greetings_.ById(id)->state, "deleted");
  EXPECT_EQ(greetings_.ById(id)->sender_name, "");
}

}  // namespace
}  // namespace moviletta::service
