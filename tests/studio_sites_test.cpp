// SPDX-License-Identifier: GPL-3.0-or-later
// The studio program with greeting sites: each site's session is a world of its own, a site
// takes the studio over only when it is safe, a stop cuts a mail in flight short, and a refused
// request's body is never read.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/media_probe.h"
#include "tests/fixtures/studio_fixture.h"
#include "tests/fixtures/studio_process.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
// The studio's page's mobile e-mail to Carl.
const std::string kToCarl = R"(["Ann", "a@x.test", "Carl", "555", "", "Hi"])";

// Two greeting sites, each its own greeting server and mail drop: each site's session sees and
// touches only its own greetings, events and identity.
TEST_F(StudioProcessTest, EachSiteHasAWorldOfItsOwn) {
  MailDrop refusing({"--reject-rcpt"}), drop_b({"--password", "secret"});
  GreetingServerFixture server_a, server_b;
  server_a.SetSettings(
      SettingsDocument(server_a.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", refusing.host()}}));
  server_b.SetSettings(
      SettingsDocument(server_b.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", drop_b.host()}}));
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller a = studio.AllowSite(server_a.address()),
                              b = studio.AllowSite(server_b.address());
  const auto id_of = [&](const StudioProcess::Caller& site) {
    return nlohmann::json::parse(studio.CallAs(site, "GetInstallationID").body)["value"];
  };

  // Site A records, and its mobile e-mail is refused: it waits in A's outbox.
  EXPECT_EQ(studio.PostAs(a, "/claim?page=a1").status, 204);
  EXPECT_EQ(studio.CallAs(a, "RecordVideo").status, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(studio
                .CallAs(a, "SendByEmail",
                        R"(["Ann", "ann@a.test", "Carl", "+41 555 0001", "", "words for Carl"])")
                .status,
            200);
  std::string a_state;
  for (int i = 0; i < 50 && (a_state = studio.StateAs(a)).find("messagebox") == std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string head = "event: messagebox\ndata: ";
  const auto box = a_state.find(head);
  ASSERT_NE(box, std::string::npos) << a_state;
  const auto data =
      a_state.substr(box + head.size(), a_state.find('\n', box + head.size()) - box - head.size());
  const auto box_id = nlohmann::json::parse(data)["id"];
  EXPECT_EQ(studio.PostAs(a, "/ack/" + box_id.dump()).status, 204);
  const auto a_list = nlohmann::json::parse(
      nlohmann::json::parse(studio.CallAs(a, "OutboxList").body)["value"].get<std::string>());
  ASSERT_EQ(a_list.size(), 1u);
  const std::string a_entry = a_list[0]["id"];
  const auto a_id = id_of(a);

  // Site B takes the studio over: none of A's world reaches it.
  EXPECT_EQ(studio.PostAs(b, "/claim?page=b1&takeover=1").status, 204);
  EXPECT_EQ(studio.CallAs(b, "OutboxList").body, R"({"value":"[]"})");
  EXPECT_NE(studio.CallAs(b, "OutboxSend", "[\"" + a_entry + "\"]").body.find("error"),
            std::string::npos);
  EXPECT_EQ(studio.CallAs(b, "OutboxDiscard", "[\"" + a_entry + "\"]").body, R"({"value":false})");
  const std::string b_state = studio.StateAs(b);
  for (const std::string& secret : {std::string("+41 555 0001"), std::string("Carl"),
                                    server_a.address(), std::string("messagebox")})
    EXPECT_EQ(b_state.find(secret), std::string::npos) << secret << " reached site B: " << b_state;
  EXPECT_EQ(studio.CallAs(a, "ClientStatus?kind=get").status, 409) << "A's page reads B's control";
  const auto b_id = id_of(b);
  EXPECT_NE(b_id, a_id);
  // B's greeting goes through B's own mail server.
  EXPECT_EQ(studio.CallAs(b, "RecordVideo").status, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(studio
                .CallAs(b, "SendByEmail",
                        R"(["Bea", "bea@b.test", "Dan", "+41 555 0002", "", "for Dan"])")
                .status,
            200);
  const std::optional<std::string> b_mail = drop_b.WaitForMail(1, std::chrono::seconds(10));
  ASSERT_TRUE(b_mail) << "B's mail went through B's mail server";
  EXPECT_EQ(refusing.Count(), 0);

  // A again: its greeting is still there and its identifier the same; the studio's page has its
  // own.
  EXPECT_EQ(studio.PostAs(a, "/claim?page=a2&takeover=1").status, 204);
  EXPECT_EQ(id_of(a), a_id) << "stable across sessions";
  EXPECT_NE(studio.CallAs(a, "OutboxList").body.find(a_entry), std::string::npos);
  // What the studio wrote for the sites is theirs alone.
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(app_dir_) / "sites")) {
    const auto allowed = entry.is_directory() ? fs::perms::owner_all
                                              : fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(entry.status().permissions() & ~allowed & fs::perms::all, fs::perms::none)
        << entry.path();
  }
  EXPECT_EQ(fs::status(fs::path(app_dir_) / "allowed-sites.json").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(studio.Post("/claim?page=own&takeover=1").status, 204);
  const auto own_id = id_of(studio.own());
  EXPECT_NE(own_id, a_id);
  EXPECT_NE(own_id, b_id);
}

// A session reads its settings afresh from its own greeting server: what a site's document lacks
// is a new control's default, never the value of the session before it. Site B names no mail
// password, so its mail goes without AUTH; site D's reading stops at a FPS that is no number, so
// it knows no mail server at all, and its greeting goes to nobody else's.
TEST_F(StudioProcessTest, ASitesSettingsNeverCarryAnotherSessionsValues) {
  MailDrop own_drop({"--password", "secret"}), drop_b;  // drop_b refuses any AUTH
  server_.SetSettings(
      SettingsDocument(server_.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", own_drop.host()}}));
  GreetingServerFixture server_b, server_d;
  server_b.SetSettings(SettingsDocument(
      server_b.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", drop_b.host()}, {"SMTPPWD", "<omit>"}}));
  server_d.SetSettings(SettingsDocument(server_d.address(), {{"SECLIMIT", "1"}, {"FPS", "fast"}}));
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller b = studio.AllowSite(server_b.address()),
                              d = studio.AllowSite(server_d.address());
  EXPECT_EQ(studio.Post("/claim?page=own").status, 204);
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":1})");

  const auto record_and_send = [&](const StudioProcess::Caller& site, const std::string& page) {
    EXPECT_EQ(studio.PostAs(site, "/claim?page=" + page + "&takeover=1").status, 204);
    studio.CallAs(site, "RecordVideo");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    studio.CallAs(site, "SendByEmail", R"(["Bea", "bea@b.test", "Dan", "+41 555 0002", "", "Hi"])");
  };
  record_and_send(b, "b");
  EXPECT_TRUE(drop_b.WaitForMail(1, std::chrono::seconds(10)))
      << "B's mail server was asked to take another session's password";
  record_and_send(d, "d");
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(drop_b.Count(), 1) << "D's greeting went to B's mail drop";
  EXPECT_EQ(own_drop.Count(), 0) << "D's greeting went to the studio page's mail drop";
}

// A second site, with a greeting server of its own, for the studio to allow.
class SecondSiteTest : public StudioProcessTest {
 protected:
  SecondSiteTest() { server_b_.SetSettings(SettingsDocument(server_b_.address())); }

  // The studio's own settings: takes of a second, mailed through `drop`.
  void MailThrough(const MailDrop& drop) {
    server_.SetSettings(
        SettingsDocument(server_.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", drop.host()}}));
  }
  // The studio's own page claims the studio (as page `page`) and records a take.
  static void OwnPageRecords(const StudioProcess& studio, const std::string& page = "own") {
    EXPECT_EQ(studio.Post("/claim?page=" + page).status, 204);
    EXPECT_EQ(studio.Call("RecordVideo").status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }

  // The studio's page sends its take in the background; returns once the send's call is inside
  // its yield (compressing).
  static std::future<StudioProcess::Answer> SendMeanwhile(const StudioProcess& studio) {
    auto send =
        std::async(std::launch::async, [&studio] { return studio.Call("SendByEmail", kToCarl); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return send;
  }

  GreetingServerFixture server_b_;
};

TEST_F(SecondSiteTest, ASiteTakesTheStudioOverWhileTheStudiosPageIsInsideAYield) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller b = studio.AllowSite(server_b_.address());
  // The animated skin's preview yields until something ends it.
  EXPECT_EQ(studio.Post("/claim?page=own").status, 204);
  auto preview = std::async(std::launch::async, [&] { return studio.Call("LoadSkin", "[42]"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(preview.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

  EXPECT_EQ(studio.PostAs(b, "/claim?page=b&takeover=1").status, 204);
  EXPECT_EQ(studio.CallAs(b, "ClientStatus?kind=get").body, R"({"value":1})")
      << "the site's own control, made once the other one's yield ended";
  ASSERT_EQ(preview.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(preview.get().status, 200);
  EXPECT_TRUE(studio.Alive());
}

// What only the driving page may do stays its own: another site learns no page id, and cannot
// let the claim go, close the page's message box or choose the visitor's devices.
TEST_F(SecondSiteTest, ASiteCannotTouchAnotherPagesClaimBoxesOrDevices) {
  MailDrop refusing({"--reject-rcpt"});
  MailThrough(refusing);
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller b = studio.AllowSite(server_b_.address());
  OwnPageRecords(studio, "own-page-7f3a");
  EXPECT_EQ(studio.StateAs(b).find("own-page-7f3a"), std::string::npos)
      << "the driving page's id reached another site";

  EXPECT_EQ(studio.PostAs(b, "/release?page=own-page-7f3a").status, 204);
  EXPECT_EQ(studio.PostAs(b, "/claim?page=b1").status, 409) << "the claim was let go by B";
  EXPECT_EQ(studio.PostAs(b, "/devices", R"({"camera": "", "size": "", "microphone": ""})").status,
            409);

  // The studio's page's mobile e-mail is refused: a message box waits for it.
  EXPECT_EQ(studio.Call("SendByEmail", kToCarl).status, 200);
  std::optional<std::string> box;
  for (int i = 0; i < 50 && !(box = studio.FirstEvent("messagebox", std::chrono::seconds(1)));) ++i;
  ASSERT_TRUE(box);
  const std::string id = nlohmann::json::parse(*box)["id"].dump();
  EXPECT_EQ(studio.PostAs(b, "/ack/" + id).status, 409);
  EXPECT_NE(studio.StateAs(studio.own()).find("messagebox"), std::string::npos) << "still open";
  EXPECT_EQ(studio.Post("/ack/" + id).status, 204) << "the studio's own page closes it";
}

// A site takes the studio over while the studio's page sends, and the studio's page takes it
// back before the site's session began: the studio's session goes on and answers at once.
TEST_F(SecondSiteTest, TakenOverAndBackDuringASendTheCallsGoOn) {
  MailDrop slow({"--delay", "2", "--password", "secret"});
  MailThrough(slow);
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller b = studio.AllowSite(server_b_.address());
  OwnPageRecords(studio);
  auto send = SendMeanwhile(studio);  // the claims come while it compresses
  EXPECT_EQ(studio.PostAs(b, "/claim?page=b&takeover=1").status, 204);
  EXPECT_EQ(studio.Post("/claim?page=own&takeover=1").status, 204);
  EXPECT_EQ(send.get().status, 200);
  auto status =
      std::async(std::launch::async, [&] { return studio.Call("ClientStatus?kind=get"); });
  ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the call waits for a start-up that never comes";
  EXPECT_EQ(status.get().status, 200);
  EXPECT_TRUE(slow.WaitForMail(1, std::chrono::seconds(10)));
}

// The trim belongs to the take: a session made again after a take-over still sends the part the
// visitor chose, and the take is still there to play.
TEST_F(SecondSiteTest, ATakeKeepsItsTrimWhenItsSessionIsMadeAgain) {
  MailDrop drop({"--password", "secret"});
  MailThrough(drop);
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller b = studio.AllowSite(server_b_.address());
  OwnPageRecords(studio);
  const std::string whole = studio.Call("TakeSeconds").body;
  ASSERT_NE(whole, R"({"value":0.0})") << "no take";
  EXPECT_EQ(studio.Call("TrimTake", "[0, 0.5]").status, 200);

  EXPECT_EQ(studio.PostAs(b, "/claim?page=b&takeover=1").status, 204);
  EXPECT_EQ(studio.CallAs(b, "TakeSeconds").body, R"({"value":0.0})") << "the site has no take";
  EXPECT_EQ(studio.Post("/claim?page=own2&takeover=1").status, 204);
  EXPECT_EQ(studio.Call("TakeSeconds").body, whole) << "the take is still the studio's page's";
  EXPECT_EQ(studio.Call("SendByEmail", kToCarl).status, 200);
  const std::optional<std::string> mail = drop.WaitForMail(1, std::chrono::seconds(20));
  ASSERT_TRUE(mail);
  EXPECT_NEAR(Probe(*mail + ".parts/Moviletta.mpg").video_seconds, 0.5, 0.15)
      << "the trimmed part is mailed, not the whole take";
}

// A site's script that calls without a page begins a session; revoking the site ends it at once,
// and the studio's page gets the studio back.
TEST_F(SecondSiteTest, ARevokeEndsTheSessionOfASitesScript) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller b = studio.AllowSite(server_b_.address());
  EXPECT_EQ(studio.CallAs(b, "ClientStatus?kind=get").body, R"({"value":1})");
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").status, 409) << "the site's session runs";
  const auto revoked = studio.Post("/sites/revoke?origin=" + server_b_.address());
  EXPECT_EQ(revoked.status, 204);
  int status = 0;
  for (int i = 0; i < 30 && (status = studio.Call("ClientStatus?kind=get").status) != 200; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(status, 200) << "the revoked site's session still holds the studio";
  EXPECT_EQ(studio.CallAs(b, "ClientStatus?kind=get").status, 403);
}

// A site revoked with its greetings while its claim waits for the studio's page's send: its
// session never starts, its folder stays gone, and the studio's page goes on.
TEST_F(SecondSiteTest, ARevokeAndDeleteWhileAClaimWaitsLeavesNothingOfTheSite) {
  MailDrop drop({"--password", "secret"});
  MailThrough(drop);
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const StudioProcess::Caller b = studio.AllowSite(server_b_.address());
  OwnPageRecords(studio);
  auto send = SendMeanwhile(studio);  // the claims come while it compresses
  EXPECT_EQ(studio.PostAs(b, "/claim?page=b&takeover=1").status, 204);
  EXPECT_EQ(studio.Post("/sites/revoke?origin=" + server_b_.address() + "&forget=1").status, 204);
  EXPECT_EQ(send.get().status, 200);
  EXPECT_TRUE(drop.WaitForMail(1, std::chrono::seconds(10)));

  EXPECT_EQ(studio.Post("/claim?page=own2&takeover=1").status, 204);
  auto status =
      std::async(std::launch::async, [&] { return studio.Call("ClientStatus?kind=get"); });
  ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the studio's page waits for the revoked site's session";
  EXPECT_EQ(status.get().body, R"({"value":1})");
  std::error_code ec;
  const fs::path sites = fs::path(app_dir_) / "sites";
  EXPECT_TRUE(!fs::exists(sites) || fs::is_empty(sites, ec))
      << "the revoked site's folder was made again";
}

// A take-over waits for the mail of the send under way, and no longer: accepted, its result is
// heard; refused, the ending session answers its own failure box (the greeting kept in the
// outbox) instead of waiting for a page that no longer drives.
TEST_F(SecondSiteTest, ATakeOverWaitsForTheMailOfASendUnderWayAndNoLonger) {
  const std::string refusing = app_dir_ + "-refuse";
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "accepted");
    if (refused) std::ofstream(refusing).put('x');
    MailDrop slow({"--delay", "2", "--password", "secret", "--refuse-while", refusing});
    MailThrough(slow);
    StudioProcess studio(server_.address(), app_dir_);
    ASSERT_GT(studio.port, 0);
    const StudioProcess::Caller b = studio.AllowSite(server_b_.address());
    OwnPageRecords(studio);
    EXPECT_EQ(studio.Call("SendByEmail", kToCarl).status, 200);

    EXPECT_EQ(studio.PostAs(b, "/claim?page=b&takeover=1").status, 204);
    auto status =
        std::async(std::launch::async, [&] { return studio.CallAs(b, "ClientStatus?kind=get"); });
    ASSERT_EQ(status.wait_for(std::chrono::seconds(8)), std::future_status::ready)
        << "the take-over waits for a box of the ending session";
    EXPECT_EQ(status.get().body, R"({"value":1})");
    if (!refused) {
      EXPECT_TRUE(slow.WaitForMail(1, std::chrono::seconds(1)))
          << "the mail went before the site's session began";
    }
    EXPECT_EQ(studio.Post("/claim?page=own2&takeover=1").status, 204);
    const auto kept = nlohmann::json::parse(
        nlohmann::json::parse(studio.Call("OutboxList").body)["value"].get<std::string>());
    EXPECT_EQ(kept.size(), refused ? 1u : 0u)
        << "a refused greeting is kept; an accepted one's result was heard";
  }
  fs::remove(refusing);
}

// A stop while a greeting's mail waits for the server's answer ends the transfer at once; the
// greeting stays in the outbox, told as one that may not have arrived.
TEST_F(StudioProcessTest, AStopCutsAMailInFlightShortAndKeepsItsGreeting) {
  MailDrop slow({"--delay", "20", "--password", "secret"});
  server_.SetSettings(
      SettingsDocument(server_.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", slow.host()}}));
  {
    StudioProcess studio(server_.address(), app_dir_);
    ASSERT_GT(studio.port, 0);
    EXPECT_EQ(studio.Post("/claim?page=own").status, 204);
    EXPECT_EQ(studio.Call("RecordVideo").status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(studio.Call("SendByEmail", kToCarl).status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the server holds the mail
    studio.Signal(SIGTERM);
    EXPECT_TRUE(studio.EndsWithin(std::chrono::seconds(2))) << "the stop waited for the mail";
  }
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const std::string kept =
      nlohmann::json::parse(studio.Call("OutboxList").body)["value"].get<std::string>();
  EXPECT_NE(kept.find("may not have arrived"), std::string::npos) << kept;
}

// A refused request's body is never read, whoever sends it and however much it promises: the
// whole body is sent, without reading the answer, as any web page may.
TEST_F(StudioProcessTest, TheBodyOfARefusedRequestIsNeverRead) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_TRUE(studio.Get("/hello"));  // the server's threads have all started
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::size_t before = studio.PeakMemory();
  const std::size_t promised = std::size_t{64} << 20;
  for (const std::string& who : {std::string("Origin: https://evil.example.org\r\n"),  // 403
                                 "Origin: " + studio.self() + "\r\nX-Moviletta-Token: " +
                                     studio.token + "\r\n"}) {  // the page, too much: 413
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(studio.port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(sock, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    const std::string head =
        "POST /call/ClientStatus HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(studio.port) +
        "\r\n" + who +
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(promised) +
        "\r\n\r\n";
    ASSERT_EQ(send(sock, head.data(), head.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(head.size()));
    const std::string chunk(1 << 20, '[');
    for (std::size_t sent = 0; sent < promised; sent += chunk.size())
      if (send(sock, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) break;  // closed on us
    close(sock);
  }
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").status, 200) << "the studio goes on";
  EXPECT_LT(studio.PeakMemory(), before + (std::size_t{8} << 20))
      << "peak " << (studio.PeakMemory() >> 20) << " MiB, from " << (before >> 20);
}

}  // namespace
}  // namespace moviletta::testing
