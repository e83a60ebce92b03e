// SPDX-License-Identifier: GPL-3.0-or-later
// The door of the web host: everyone but the studio's own page and the sites the visitor allowed
// is kept out, from the headers alone; only the studio's page allows and revokes sites.
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "host/access/secret.h"
#include "host/access/site_consent.h"
#include "tests/fixtures/bridge_harness.h"
#include "tests/fixtures/raw_request.h"

namespace moviletta::testing {
namespace {

using nlohmann::json;

// Any page may learn that the studio answers here, and nothing more.
TEST_F(BridgeTest, AnyPageMayAskWhetherTheStudioAnswersHere) {
  httplib::Client client("127.0.0.1", port_);
  const auto answer = client.Get("/identity", {{"Origin", "https://anyone.example.org"}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(answer->get_header_value("Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(json::parse(answer->body), (json{{"studio", "moviletta"}}));
  EXPECT_EQ(client.Get("/identity", {{"Host", "attacker.example.org"}})->status, 421)
      << "not through another name";
  EXPECT_EQ(client.Get("/hello", {{"Origin", "https://anyone.example.org"}})->status, 403);
}

TEST_F(BridgeTest, EveryoneButTheHostsOwnPageIsKeptOut) {
  struct Hostile {
    const char* what;
    const char* method;
    httplib::Headers headers;
    int status;
  };
  const std::string origin = "http://" + self_;
  const std::string wrong = (token_[0] == '0' ? "1" : "0") + token_.substr(1);
  const Hostile cases[] = {
      {"foreign origin",
       "POST",
       {{"Origin", "http://evil.example"}, {"X-Moviletta-Token", token_}},
       403},
      {"no origin on a call", "POST", {{"X-Moviletta-Token", token_}}, 403},
      {"host evil.example",
       "POST",
       {{"Host", "evil.example"}, {"Origin", origin}, {"X-Moviletta-Token", token_}},
       421},
      {"host 127.0.0.1.evil.example",
       "POST",
       {{"Host", "127.0.0.1.evil.example"}, {"Origin", origin}, {"X-Moviletta-Token", token_}},
       421},
      {"host localhost.",
       "POST",
       {{"Host", "localhost."}, {"Origin", origin}, {"X-Moviletta-Token", token_}},
       421},
      {"missing token", "POST", {{"Origin", origin}}, 403},
      {"wrong token", "POST", {{"Origin", origin}, {"X-Moviletta-Token", wrong}}, 403},
      {"a call by GET", "GET", {{"Origin", origin}, {"X-Moviletta-Token", token_}}, 405},
  };
  httplib::Client client("127.0.0.1", port_);
  for (const Hostile& c : cases) {
    const auto res =
        std::string(c.method) == "POST"
            ? client.Post("/call/Miror?kind=put", c.headers, "[true]", "application/json")
            : client.Get("/call/Miror?kind=put", c.headers);
    ASSERT_TRUE(res) << c.what;
    EXPECT_EQ(res->status, c.status) << c.what;
    EXPECT_FALSE(res->has_header("Access-Control-Allow-Origin")) << c.what;
  }
  const auto page = client.Get("/", {{"Origin", "http://evil.example"}});
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 403) << "the page itself needs the token";
  EXPECT_EQ(client.Get("/events")->status, 403);
  EXPECT_EQ(Call("Miror", json::array(), "get"), (json{{"value", false}})) << "state untouched";
  EXPECT_EQ(Call("Miror", json::array({true}), "put"), (json{{"value", nullptr}}));
  EXPECT_EQ(Call("Miror", json::array(), "get"), (json{{"value", true}}));
}

// The ports are shared by every account of the computer: another user's process gets nothing
// from the studio, not even that it runs, and none of its connections holds a server thread;
// the visitor's own processes are served.
TEST_F(BridgeTest, AnotherUsersProcessIsClosedOutBeforeAnythingIsRead) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can act as another user here";
  const std::string identity = "GET /identity HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_);
  EXPECT_NE(RawRequest(port_, identity).find("200 OK"), std::string::npos) << "the visitor's own";
  const pid_t child = fork();
  if (child == 0) {  // another account: nobody; only system calls from here on
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    std::vector<int> held;  // a byte a second would hold a thread each; these are closed at once
    for (int i = 0; i < 80; ++i) held.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const int fd : held) {
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      ::send(fd, "G", 1, MSG_NOSIGNAL);
      ::usleep(10000);  // no faster than the server takes them in: a full backlog delays retries
    }
    _exit(RawRequest(port_, identity).empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "another user's process was answered";
  EXPECT_NE(RawRequest(port_, identity).find("200 OK"), std::string::npos);
}

TEST_F(BridgeTest, TheGateAnswersFromTheHeadersAndBodiesAreCapped) {
  const std::string call = "POST /call/ClientStatus?kind=get HTTP/1.1\r\nHost: " + self_ +
                           "\r\nContent-Type: application/json\r\n";
  const std::string huge = "Content-Length: 268435456";
  EXPECT_EQ(
      RawRequest(port_, call + "Origin: http://evil.example\r\n" + huge).rfind("HTTP/1.1 403", 0),
      0u)
      << "refused before the promised 256 MiB arrive";
  EXPECT_EQ(RawRequest(port_, call + "Origin: http://" + self_ +
                                  "\r\nX-Moviletta-Token: " + token_ + "\r\n" + huge)
                .rfind("HTTP/1.1 413", 0),
            0u)
      << "the page's own call is capped too";
  const std::string answer =
      RawRequest(port_,
                 call + "Origin: http://" + self_ + "\r\nX-Moviletta-Token: " + token_ +
                     "\r\nContent-Length: 2",
                 "[]");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
  EXPECT_NE(answer.find("Referrer-Policy: no-referrer"), std::string::npos) << answer;
}

// A bridge of its own that serves one allowed site, greetings.example.org.
class AllowedSiteTest : public BridgeTest {
 protected:
  AllowedSiteTest() {
    allowed_bridge_.ServeSites(consent_);
    allowed_port_ = allowed_bridge_.Start();
  }
  ~AllowedSiteTest() override {
    allowed_bridge_.Stop();
    std::filesystem::remove(sites_file_);
  }

  const std::string sites_file_ =
      ::testing::TempDir() + "sites-" + std::to_string(getpid()) + ".json";
  web::SiteConsent consent_{sites_file_};
  const std::string allowed_ = "https://greetings.example.org";
  const std::string allowed_token_ = consent_.Allow(allowed_);
  web::Bridge allowed_bridge_{
      host_, site_, stream_, {capture_feed_, player_feed_}, MOVILETTA_SOURCE_DIR "/host/web",
      token_};
  int allowed_port_ = 0;
};

// A site the visitor allowed reads the answers to its own page's calls with its own token;
// every other origin, and the studio's token from a site, gets nothing it can read.
TEST_F(AllowedSiteTest, OnlyAllowedSitesWithTheirOwnTokenGetAnswersTheyCanRead) {
  httplib::Client client("127.0.0.1", allowed_port_);
  const auto call = [&](const std::string& origin, const std::string& token) {
    return client.Post("/call/ClientStatus?kind=get",
                       {{"Origin", origin}, {"X-Moviletta-Token", token}}, "[]",
                       "application/json");
  };

  const auto preflight = client.Options(
      "/call/ClientStatus", {{"Origin", allowed_},
                             {"Access-Control-Request-Method", "POST"},
                             {"Access-Control-Request-Headers", "content-type,x-moviletta-token"},
                             {"Access-Control-Request-Private-Network", "true"}});
  ASSERT_TRUE(preflight);
  EXPECT_EQ(preflight->status, 204);
  EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Origin"), allowed_);
  EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Private-Network"), "true");
  EXPECT_NE(preflight->get_header_value("Access-Control-Allow-Headers").find("X-Moviletta-Token"),
            std::string::npos);

  const auto answered = call(allowed_, allowed_token_);
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200);
  EXPECT_EQ(answered->get_header_value("Access-Control-Allow-Origin"), allowed_);
  EXPECT_EQ(json::parse(answered->body), (json{{"value", 1}}));

  EXPECT_EQ(call(allowed_, token_)->status, 403) << "the studio's own token is not the allowed_'s";
  EXPECT_EQ(
      client.Get("/hello", {{"Origin", allowed_}, {"X-Moviletta-Token", allowed_token_}})->status,
      200);
  EXPECT_EQ(
      client
          .Post("/claim?page=allowed_-tab",
                {{"Origin", allowed_}, {"X-Moviletta-Token", allowed_token_}}, "", "text/plain")
          ->status,
      204);
  const auto driver = Events(3);
  EXPECT_NE(std::find(driver.begin(), driver.end(),
                      std::pair<std::string, json>{"driver",
                                                   {{"page", "another"}, {"origin", allowed_}}}),
            driver.end())
      << "the studio's page learns which allowed_ drives, not its page's id";
  for (const std::string& other : {std::string("https://evil.example.org"), std::string("null")}) {
    const auto refused = call(other, allowed_token_);
    EXPECT_EQ(refused->status, 403) << other;
    EXPECT_FALSE(refused->has_header("Access-Control-Allow-Origin")) << other;
    const auto asked = client.Options("/call/ClientStatus", {{"Origin", other}});
    EXPECT_EQ(asked->status, 403) << other;
    EXPECT_FALSE(asked->has_header("Access-Control-Allow-Origin")) << other;
  }

  // Revoked: the open event stream ends within a second, saying why, and the next call is
  // refused.
  std::atomic<bool> ended{false};
  auto events = std::async(std::launch::async, [&] {
    httplib::Client listener("127.0.0.1", allowed_port_);
    listener.set_read_timeout(20);
    std::string said;
    listener.Get("/events?token=" + allowed_token_, {{"Origin", allowed_}},
                 [&](const char* data, std::size_t size) {
                   said.append(data, size);
                   return true;
                 });
    ended = true;
    return said;
  });
  // Its page shows the camera's picture too (an <img>: no Origin, the token in the address).
  std::atomic<bool> watching_ended{false};
  auto watching = std::async(std::launch::async, [&] {
    httplib::Client viewer("127.0.0.1", allowed_port_);
    viewer.set_read_timeout(20);
    viewer.Get("/video/capture?token=" + allowed_token_,
               [](const char*, std::size_t) { return true; });
    watching_ended = true;
  });
  std::thread camera([&] {
    const Bitmap picture{16, 8, std::vector<uint8_t>(16 * 8 * 4, 200)};
    for (int i = 0; i < 250 && !watching_ended; ++i) {
      capture_feed_.Push(std::make_shared<const Bitmap>(picture));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(ended) << "the allowed_'s page is listening";
  EXPECT_FALSE(watching_ended) << "and watching";
  consent_.Revoke(allowed_);
  EXPECT_EQ(watching.wait_for(std::chrono::seconds(1)), std::future_status::ready)
      << "the picture ends with the revoke";
  camera.join();
  ASSERT_EQ(events.wait_for(std::chrono::seconds(1)), std::future_status::ready);
  EXPECT_TRUE(events.get().ends_with("event: revoked\ndata: {}\n\n"));
  const auto after = call(allowed_, allowed_token_);
  EXPECT_EQ(after->status, 403);
  EXPECT_FALSE(after->has_header("Access-Control-Allow-Origin"));
}

// The question to the visitor is served to whoever opens it, never inside anybody's frame; it
// holds no secret (the studio's own page left its token in the browser).
// The studio proves to an allowed site's page that it knows the site's token, without being
// told it: the HMAC-SHA256 of the page's nonce and the studio's own address under the token.
TEST_F(AllowedSiteTest, TheStudioProvesItKnowsASitesTokenWithoutBeingToldIt) {
  EXPECT_EQ(web::Proof("0123456789abcdef0123456789abcdef", "00112233445566778899aabbccddeeff",
                       "127.0.0.1:47800"),
            "19931dc7389d2fef792807b59d84722bd9356432a9a4fdf6f832cf5989b60207");
  httplib::Client client("127.0.0.1", allowed_port_);
  const std::string nonce = "00112233445566778899aabbccddeeff";
  const auto proof = [&](const std::string& origin, const std::string& asked) {
    return client.Get("/proof?nonce=" + asked, {{"Origin", origin}});
  };
  const std::string own_host = "127.0.0.1:" + std::to_string(allowed_port_);

  const auto answer = proof(allowed_, nonce);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->status, 200);
  EXPECT_EQ(answer->get_header_value("Access-Control-Allow-Origin"), allowed_);
  EXPECT_EQ(json::parse(answer->body)["proof"], web::Proof(allowed_token_, nonce, own_host));
  EXPECT_NE(json::parse(answer->body)["proof"],
            web::Proof(allowed_token_, nonce, "127.0.0.1:47800"))
      << "the proof names the allowed_port_ that answers";
  EXPECT_EQ(json::parse(proof("http://" + own_host, nonce)->body)["proof"],
            web::Proof(token_, nonce, own_host))
      << "the studio's own page";
  EXPECT_EQ(proof("https://never.example.org", nonce)->status, 403);
  EXPECT_EQ(proof(allowed_, "short")->status, 400);
  EXPECT_EQ(proof(allowed_, std::string(40, 'Z'))->status, 400);
  consent_.Revoke(allowed_);
  EXPECT_EQ(proof(allowed_, nonce)->status, 403) << "no proof for a revoked allowed_";
}

TEST_F(BridgeTest, TheConsentQuestionIsOpenToAllButNeverFramed) {
  httplib::Client client("127.0.0.1", port_);
  const auto question = client.Get("/consent?origin=https://greetings.example.org");
  ASSERT_TRUE(question);
  EXPECT_EQ(question->status, 200);
  EXPECT_NE(question->body.find("wants to record and send greetings"), std::string::npos);
  EXPECT_EQ(question->body.find(token_), std::string::npos);
  const auto page = client.Get("/?token=" + token_);
  for (const httplib::Response* answer : {&*question, &*page}) {
    EXPECT_EQ(answer->get_header_value("X-Frame-Options"), "DENY");
    EXPECT_EQ(answer->get_header_value("Content-Security-Policy"), "frame-ancestors 'none'");
  }
  EXPECT_EQ(client.Get("/hello")->status, 403) << "only a token tells whether it works";
}

// Sites look for the studio on a few ports: a taken one is passed by.
TEST_F(BridgeTest, ATakenPortIsPassedBy) {
  web::Bridge second(host_, site_, stream_, {capture_feed_, player_feed_},
                     MOVILETTA_SOURCE_DIR "/host/web", token_);
  const int port = second.Start(port_, 3);
  EXPECT_GT(port, 0);
  EXPECT_NE(port, port_);
  second.Stop();
}

// Only the studio's own page allows and revokes sites; a site cannot allow itself.
TEST_F(BridgeTest, TheStudiosOwnPageAllowsAndRevokesSites) {
  const std::string file = ::testing::TempDir() + "sites-own-" + std::to_string(getpid()) + ".json";
  web::SiteConsent consent(file);
  web::Bridge bridge(host_, site_, stream_, {capture_feed_, player_feed_},
                     MOVILETTA_SOURCE_DIR "/host/web", token_);
  std::promise<std::string> forgotten;
  bridge.ServeSites(
      consent,
      [](const std::string& origin) {
        return json{{"server", origin + "/greetings"}};
      },
      [&](const std::string& origin, bool forget) {
        if (forget) forgotten.set_value(origin);
      });
  const int port = bridge.Start();
  const std::string own = "http://127.0.0.1:" + std::to_string(port);
  httplib::Client client("127.0.0.1", port);
  const httplib::Headers studio = {{"Origin", own}, {"X-Moviletta-Token", token_}};

  const auto allowed =
      client.Post("/sites/allow?origin=https://Greetings.Example.org", studio, "", "text/plain");
  ASSERT_EQ(allowed->status, 200);
  const json answer = json::parse(allowed->body);
  EXPECT_EQ(answer["origin"], "https://greetings.example.org");
  const std::string site_token = answer["token"];
  EXPECT_TRUE(consent.Admits("https://greetings.example.org", site_token));
  EXPECT_EQ(
      client.Post("/sites/allow?origin=http://evil.example.org", studio, "", "text/plain")->status,
      400);
  EXPECT_EQ(
      client
          .Post("/sites/allow?origin=https://greetings.example.org&server=http://mail.example.org",
                studio, "", "text/plain")
          ->status,
      400)
      << "a greeting server without https";
  EXPECT_EQ(json::parse(client.Get("/sites", studio)->body),
            json::parse(R"({"sites": [{"origin": "https://greetings.example.org",
                                       "server": "https://greetings.example.org/greetings"}]})"));

  const httplib::Headers as_site = {{"Origin", "https://greetings.example.org"},
                                    {"X-Moviletta-Token", site_token}};
  EXPECT_EQ(client.Post("/sites/allow?origin=https://other.example.org", as_site, "", "text/plain")
                ->status,
            403);
  EXPECT_EQ(client.Get("/sites", as_site)->status, 403) << "nor learns which others are allowed";

  EXPECT_EQ(client
                .Post("/sites/revoke?origin=https://greetings.example.org&forget=1", studio, "",
                      "text/plain")
                ->status,
            204);
  EXPECT_FALSE(consent.Allowed("https://greetings.example.org"));
  auto forgetting = forgotten.get_future();
  ASSERT_EQ(forgetting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(forgetting.get(), "https://greetings.example.org") << "its greetings go too";
  EXPECT_EQ(client.Post("/call/ClientStatus?kind=get", as_site, "[]", "application/json")->status,
            403);
  bridge.Stop();
  std::remove(file.c_str());
}

}  // namespace
}  // namespace moviletta::testing
