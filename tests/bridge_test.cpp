// SPDX-License-Identifier: GPL-3.0-or-later
// The web host's bridge over real HTTP: member calls, events, message boxes, the driving page,
// waiting calls and the windows' streams.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "tests/fixtures/bridge_harness.h"
#include "tests/fixtures/gif_files.h"

namespace moviletta::testing {
namespace {

using nlohmann::json;

TEST_F(BridgeTest, MembersAnswerAndEventsReachThePageInOrder) {
  auto stream = std::async(std::launch::async, [this] { return Events(5); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the page is listening
  EXPECT_EQ(Call("GetInstallationID"), (json{{"value", "-1294967296"}}));
  EXPECT_EQ(Call("ClientStatus", json::array(), "get"), (json{{"value", 1}}));
  EXPECT_EQ(Call("SkinPath", json::array(), "get")["error"]["number"], 393);
  EXPECT_EQ(Call("LoadSkin", json::array({-1})), (json{{"value", nullptr}}));
  EXPECT_EQ(Call("Explode")["error"]["number"], 438);

  const auto events = stream.get();
  ASSERT_GE(events.size(), 5u);
  // The current state (start-up's two events), then the accepted LoadSkin's three.
  EXPECT_EQ(events[0].first, "StatusChanged");
  EXPECT_EQ(events[1].first, "ErrMsgChanged");
  EXPECT_EQ(events[2].first, "ErrMsgChanged");
  const json loading = {{"ClientStatus", 2},    {"ErrMsg", ""},       {"SecondsLimit", 30},
                        {"VideoWidth", 320},    {"VideoHeight", 240}, {"SentSize", {320, 240}},
                        {"KeyColour", 0xFF00FF}};
  EXPECT_EQ(events[3], (std::pair<std::string, json>{"StatusChanged", loading}))
      << "with what a page needs to show the recording's time, the stage's size, the size sent "
         "and the skins' key colour";
  EXPECT_EQ(events[4].first, "StatusChanged");
  EXPECT_EQ(events[4].second["ClientStatus"], 1);
}

// A start-up that fails with any exception says "failed" with its reason, and the page's calls
// go on; calls that wait for a start-up still under way are answered when the bridge stops.
TEST_F(BridgeTest, AStartUpFailingWithAnythingIsToldAndNoCallOutwaitsTheStop) {
  web::Sessions sessions(host_, site_, module_, stream_, bridge_,
                         [](const std::string&) -> web::Sessions::Setup {
                           throw std::runtime_error("no memory for the devices");
                         });
  const auto on_host_thread = [&](std::function<void()> step) {
    auto done = std::make_shared<std::promise<void>>();
    host_.queue().Post([step, done] {
      step();
      done->set_value();
    });
    done->get_future().wait();
  };
  on_host_thread([&] {
    sessions.Begin("");
    sessions.Tick();
  });
  const auto events = Events(3);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(),
            (std::pair<std::string, json>{
                "startup", {{"state", "failed"}, {"detail", "no memory for the devices"}}}));
  EXPECT_EQ(Call("ClientStatus", json::array(), "get"), (json{{"value", 1}}));
  on_host_thread([&] { sessions.End(); });

  on_host_thread([&] { bridge_.StartupBegins("waiting for ever"); });
  auto waiting =
      std::async(std::launch::async, [&] { return Call("ClientStatus", json::array(), "get"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto stopped = std::async(std::launch::async, [&] { bridge_.Stop(); });
  const bool in_time = stopped.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  EXPECT_TRUE(in_time) << "the stop waits for a call that waits for the start-up";
  if (!in_time) bridge_.StartupEnded(std::nullopt);  // lets the test end
  EXPECT_EQ(waiting.get(), (json{{"status", 503}}));
}

// A session that a script began (calls without a page) ends a while after the script's last
// call; a page that claims it keeps it.
TEST_F(BridgeTest, AScriptsSessionEndsAWhileAfterItsLastCall) {
  web::Sessions sessions(host_, site_, module_, stream_, bridge_,
                         [](const std::string&) -> web::Sessions::Setup {
                           throw std::runtime_error("no devices here");
                         });
  sessions.unattended_grace = std::chrono::milliseconds(100);
  sessions.Begin("https://a.example");
  sessions.Tick();
  ASSERT_EQ(sessions.origin(), "https://a.example");
  sessions.Unattended("https://b.example");  // not its session
  sessions.Unattended("https://a.example");
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  sessions.Unattended("https://a.example");  // a later call: the time runs from it
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  sessions.Tick();
  EXPECT_EQ(sessions.origin(), "https://a.example");
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  sessions.Tick();
  EXPECT_EQ(sessions.origin(), std::nullopt) << "ended after the script's last call";

  sessions.Begin("https://a.example");
  sessions.Tick();
  sessions.Unattended("https://a.example");
  sessions.Begin("https://a.example");  // a page claims it
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  sessions.Tick();
  EXPECT_EQ(sessions.origin(), "https://a.example");
  sessions.End();
}

TEST_F(BridgeTest, ThePageGetsTheGreetingServersSkinsAndOnlyTheirPictures) {
  httplib::Client client("127.0.0.1", port_);
  EXPECT_EQ(json::parse(client.Get("/skins", PageHeaders())->body), json::array())
      << "no catalogue served yet";

  CurlHttpClientFactory http(TestHttpOptions());
  web::Bridge bridge(host_, site_, stream_, {capture_feed_, player_feed_},
                     MOVILETTA_SOURCE_DIR "/host/web", token_);
  bridge.ServeSkinCatalogue(
      [&](const std::string&) { return server_.address() + "/skinCatalogue.asp"; }, http);
  const int port = bridge.Start();
  httplib::Client other("127.0.0.1", port);
  const httplib::Headers headers = {{"X-Moviletta-Token", token_},
                                    {"Host", "127.0.0.1:" + std::to_string(port)}};
  const auto none = other.Get("/skins", headers);
  EXPECT_EQ(none->status, 200);
  EXPECT_EQ(json::parse(none->body), json::array()) << "a server without a catalogue lists none";

  server_.SetCatalogue("42,Circling star, animated," + server_.address() +
                       "/skins/frames/42/1.gif\r\nbroken line\n7,Frame,file:///etc/passwd\n");
  server_.ServeSkinFile("frames/42/1.gif", {200, "GIF89a-picture"});
  const auto skins = other.Get("/skins", headers);
  ASSERT_TRUE(skins);
  EXPECT_EQ(json::parse(skins->body), json::parse(R"([{"id": 42, "name": "Circling star, animated",
                             "thumbnail": "/skins/42/picture"}])"));
  const auto picture = other.Get("/skins/42/picture", headers);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->body, "GIF89a-picture");
  EXPECT_EQ(other.Get("/skins/7/picture", headers)->status, 404) << "only http pictures";
  EXPECT_EQ(other.Get("/skins/8/picture", headers)->status, 404) << "only listed skins";
}

TEST_F(BridgeTest, OnePageDrivesTheControlAndAnotherMayTakeItOver) {
  httplib::Client client("127.0.0.1", port_);
  const auto claim = [&](const std::string& page, bool takeover = false) {
    const auto res = client.Post("/claim?page=" + page + (takeover ? "&takeover=1" : ""),
                                 PageHeaders(), "", "text/plain");
    return res ? res->status : -1;
  };
  const auto call_from = [&](const std::string& page) {
    httplib::Headers headers = PageHeaders();
    headers.emplace("X-Moviletta-Page", page);
    const auto res = client.Post("/call/Miror?kind=put", headers, "[false]", "application/json");
    return res ? res->status : -1;
  };
  EXPECT_EQ(claim("tab-a"), 204);
  EXPECT_EQ(claim("tab-a"), 204) << "again, after a reconnection";
  EXPECT_EQ(claim("tab-b"), 409) << "told that the studio is open elsewhere";
  EXPECT_EQ(call_from("tab-a"), 200);
  EXPECT_EQ(call_from("tab-b"), 409);
  EXPECT_EQ(claim("tab-b", true), 204);
  EXPECT_EQ(call_from("tab-a"), 409) << "taken over";
  EXPECT_EQ(call_from("tab-b"), 200);
  EXPECT_EQ(Call("ClientStatus", json::array(), "get"), (json{{"value", 1}})) << "a script";
  client.Post("/release?page=tab-a", PageHeaders(), "", "text/plain");
  EXPECT_EQ(call_from("tab-b"), 200) << "only the driver releases";
  client.Post("/release?page=tab-b", PageHeaders(), "", "text/plain");
  EXPECT_EQ(claim("tab-c"), 204) << "a reloaded page drives at once";
  const auto events = Events(3);
  EXPECT_NE(std::find(events.begin(), events.end(),
                      std::pair<std::string, json>{"driver", {{"page", "tab-c"}, {"origin", ""}}}),
            events.end())
      << "a page loaded now learns who drives";
}

// A page that follows the stream another page of its origin holds reads where things stand once,
// with the id of the last event it includes; that read ends at once, and its end is no page's
// going away.
TEST_F(BridgeTest, APageFollowingAnotherPagesStreamReadsWhereThingsStandOnce) {
  httplib::Client client("127.0.0.1", port_);
  const auto claim = [&](const std::string& page) {
    const auto res = client.Post("/claim?page=" + page, PageHeaders(), "", "text/plain");
    return res ? res->status : -1;
  };
  ASSERT_EQ(claim("tab-a"), 204);
  client.set_read_timeout(2, 0);
  const auto once = client.Get("/events?token=" + token_ + "&page=tab-a&once=1", PageHeaders());
  ASSERT_TRUE(once) << "it ends at once";
  EXPECT_EQ(once->status, 200);
  EXPECT_NE(once->body.find("event: driver\ndata: {\"origin\":\"\",\"page\":\"tab-a\"}"),
            std::string::npos)
      << once->body;
  EXPECT_NE(once->body.find("event: StatusChanged"), std::string::npos);
  const std::string last = once->get_header_value("X-Last-Event");
  EXPECT_NE(once->body.find("id: " + last + "\n"), std::string::npos) << "the last one it holds";
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(claim("tab-b"), 409) << "tab-a still drives";
}

TEST_F(BridgeTest, APageWhoseWindowCrashedLetsAnotherDriveWithinTwoSeconds) {
  // The crashed window's connection closes without a release or a last word.
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(port_));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(sock, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  const std::string request =
      "GET /events?token=" + token_ + "&page=crashed HTTP/1.1\r\nHost: " + self_ + "\r\n\r\n";
  ASSERT_EQ(write(sock, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  char answer[256];
  ASSERT_GT(read(sock, answer, sizeof answer), 0) << "the stream is open";
  httplib::Client client("127.0.0.1", port_);
  const auto claim = [&](const std::string& page) {
    const auto res = client.Post("/claim?page=" + page, PageHeaders(), "", "text/plain");
    return res ? res->status : -1;
  };
  ASSERT_EQ(claim("crashed"), 204);
  ASSERT_EQ(claim("new-window"), 409);

  close(sock);
  const auto closed = std::chrono::steady_clock::now();
  while (claim("new-window") != 204 &&
         std::chrono::steady_clock::now() - closed < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::seconds(2));
}

// However many calls a page leaves waiting, the answer to a message box still finds a server
// thread: calls beyond a bound are turned away at once with 503, and the others are answered
// once the host thread takes them.
TEST_F(BridgeTest, WaitingCallsAreBoundedSoAMessageBoxCanAlwaysBeAnswered) {
  auto on_host_thread = std::make_shared<std::promise<void>>();
  host_.queue().Post([&, on_host_thread] {
    bridge_.StartupBegins("calls wait from here");
    on_host_thread->set_value();
  });
  on_host_thread->get_future().wait();
  // More calls than the server has threads, one after another as a page's script makes them.
  constexpr int kCalls = 72;
  std::atomic<int> answered{0};
  std::vector<std::future<int>> calls;
  for (int i = 0; i < kCalls; ++i) {
    calls.push_back(std::async(std::launch::async, [this, &answered] {
      httplib::Client client("127.0.0.1", port_);
      client.set_read_timeout(30, 0);
      const auto res =
          client.Post("/call/ClientStatus?kind=get", PageHeaders(), "[]", "application/json");
      ++answered;
      return res ? res->status : -1;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int before = -1; before != answered;) {  // until those turned away have their answer
    before = answered;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }

  std::atomic<bool> closed{false};
  host_.queue().Post([&] {
    host_.MessageBox("The outbox is full");
    closed = true;
  });
  std::optional<json> box;
  for (int i = 0; i < 3 && !box; ++i) {
    for (const auto& [name, data] : Events(1))
      if (name == "messagebox") box = data;
    if (!box) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(box) << "the box reaches the page";
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(2, 0);
  const auto ack =
      client.Post(("/ack/" + (*box)["id"].dump()).c_str(), PageHeaders(), "", "text/plain");
  EXPECT_EQ(ack ? ack->status : -1, 204) << "the box is answered";

  host_.queue().Post([&] { bridge_.StartupEnded(std::nullopt); });
  std::map<int, int> statuses;
  for (auto& call : calls) ++statuses[call.get()];
  EXPECT_GT(statuses[503], 0) << "calls beyond the bound are turned away";
  EXPECT_GT(statuses[200], 0) << "the others are answered";
  EXPECT_EQ(statuses[200] + statuses[503], kCalls) << "every call has an answer";
  for (int i = 0; i < 100 && !closed; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(closed);
}

TEST_F(BridgeTest, ARefusedGuardSetsTheMessageAndTellsThePage) {
  Call("RecordVideo");
  EXPECT_EQ(Call("ClientStatus", json::array(), "get"), (json{{"value", 3}}));
  Call("PlayVideo");
  EXPECT_EQ(Call("ErrMsg", json::array(), "get"),
            (json{{"value", "Can't Play while in status: 3"}}));
  const auto events = Events(2);  // the state a page loaded now is told
  EXPECT_EQ(events.back().second["ErrMsg"], "Can't Play while in status: 3");
}

TEST_F(BridgeTest, AMessageBoxWaitsForThePageToCloseIt) {
  std::atomic<bool> closed{false};
  host_.queue().Post([&] {
    host_.MessageBox("550 mailbox unavailable");
    closed = true;
  });
  const auto events = Events(3);
  ASSERT_EQ(events.back().first, "messagebox");
  EXPECT_EQ(events.back().second["text"], "550 mailbox unavailable");
  EXPECT_EQ(Events(3), events) << "a reloaded page sees the box still waiting";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(closed);
  httplib::Client client("127.0.0.1", port_);
  const auto res = client.Post(("/ack/" + events.back().second["id"].dump()).c_str(), PageHeaders(),
                               "", "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 204);
  for (int i = 0; i < 100 && !closed; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(closed);
  EXPECT_EQ(client
                .Post(("/ack/" + events.back().second["id"].dump()).c_str(), PageHeaders(), "",
                      "text/plain")
                ->status,
            404)
      << "nothing is kept of a closed box";

  // A page loaded now is told the state, not the history: no box that was closed comes back.
  host_.queue().Post([&] { site_.Call("LoadSkin", MemberKind::kMethod, {Variant(-1)}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto fresh = Events(2);
  EXPECT_EQ(fresh.size(), 2u);
  for (const auto& [name, data] : fresh) EXPECT_NE(name, "messagebox");
  EXPECT_EQ(fresh.front().second["ClientStatus"], 1);
}

TEST_F(BridgeTest, TextsThatAreNotUtf8ReachThePageWithReplacementCharacters) {
  host_.queue().Post([&] {
    host_.MessageBox(
        "550 Postf\xE4"
        "cher voll");
  });
  const auto events = Events(3);
  ASSERT_EQ(events.back().first, "messagebox");
  EXPECT_EQ(events.back().second["text"],
            "550 Postf\uFFFD"
            "cher voll");
}

TEST_F(BridgeTest, TheWindowsAreMjpegStreams) {
  Bitmap picture{16, 8, std::vector<uint8_t>(16 * 8 * 4, 200)};
  std::thread pusher([&] {
    for (int i = 0; i < 20; ++i) {
      capture_feed_.Push(std::make_shared<const Bitmap>(picture));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  httplib::Client client("127.0.0.1", port_);
  std::string received;
  std::string type;
  client.Get(("/video/capture?token=" + token_).c_str(), httplib::Headers{},
             [&](const httplib::Response& res) {
               type = res.get_header_value("Content-Type");
               return true;
             },
             [&](const char* data, std::size_t size) {
               received.append(data, size);
               return received.find("\xff\xd9\r\n--frame") == std::string::npos;
             });
  pusher.join();
  EXPECT_EQ(type, "multipart/x-mixed-replace; boundary=frame");
  const auto start = received.find("\r\n\r\n");
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(received.substr(0, 38).find("Content-Type: image/jpeg"), 9u);
  EXPECT_EQ(received.substr(start + 4, 2), "\xff\xd8") << "a JPEG picture follows";
}

// A page fetches its window's pictures one at a time: each answer is the first picture after
// the number it names, and no answer holds the connection while nothing new comes.
TEST_F(BridgeTest, TheWindowsPicturesComeOneAtATime) {
  httplib::Client client("127.0.0.1", port_);
  const auto frame_after = [&](const std::string& after) {
    return client.Get("/video/capture/frame?token=" + token_ + "&after=" + after);
  };
  const auto push = [&](uint8_t grey) {
    capture_feed_.Push(
        std::make_shared<const Bitmap>(Bitmap{16, 8, std::vector<uint8_t>(16 * 8 * 4, grey)}));
  };
  push(10);
  push(200);
  const auto first = frame_after("0");
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200);
  EXPECT_EQ(first->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(first->body.substr(0, 2), "\xff\xd8");
  const std::string seen = first->get_header_value("X-Frame");
  EXPECT_EQ(seen, "2") << "the newest picture, not each one in turn";

  const auto start = std::chrono::steady_clock::now();
  const auto nothing_new = frame_after(seen);
  ASSERT_TRUE(nothing_new);
  EXPECT_EQ(nothing_new->status, 204);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    push(90);
  });
  const auto next = frame_after(seen);
  later.join();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 200) << "a picture that comes while the request waits";
  EXPECT_EQ(next->get_header_value("X-Frame"), "3");
  // A page open across a restart of the studio names a number the new feed has not reached.
  const auto across_restart = frame_after("999");
  ASSERT_TRUE(across_restart);
  EXPECT_EQ(across_restart->get_header_value("X-Frame"), "3");

  // A session's last picture is not the next one's first.
  bridge_.SessionEnded("");
  const auto after_session = frame_after("0");
  ASSERT_TRUE(after_session);
  EXPECT_EQ(after_session->status, 204) << "the ended session's picture was shown";
  push(30);
  const auto new_session = frame_after("0");
  ASSERT_TRUE(new_session);
  EXPECT_EQ(new_session->get_header_value("X-Frame"), "4");
}

// Slow or idle connections never take the threads that the page, its calls and its boxes need:
// 200 connections whose request headers drip in a byte at a time leave the page, a call and an
// acknowledgement answered, and each is closed once its headers are a few seconds late.
TEST_F(BridgeTest, SlowConnectionsDoNotStarveThePageItsCallsAndItsBoxes) {
  std::vector<int> slow;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < 200; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    slow.push_back(fd);
    // Not faster than the server takes them in: a full backlog would delay the test's own
    // connections by the system's retries.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::atomic<bool> dripping{true};
  std::thread drip([&] {
    const std::string head = "GET /events HTTP/1.1\r\nHost: " + self_ + "\r\nX-Padding: ";
    for (std::size_t at = 0; dripping; ++at) {
      const char byte = at < head.size() ? head[at] : 'x';
      for (const int fd : slow) ::send(fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(std::chrono::seconds(2));
  const auto start = std::chrono::steady_clock::now();
  const auto page = client.Get("/?token=" + token_);
  ASSERT_TRUE(page) << "the page was not served";
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(Call("ClientStatus", json::array(), "get"), (json{{"value", 1}}));
  host_.queue().Post([&] { host_.MessageBox("Hello"); });
  const auto events = Events(3);
  ASSERT_EQ(events.back().first, "messagebox") << "the event stream was not served";
  const auto ack =
      client.Post("/ack/" + events.back().second["id"].dump(), PageHeaders(), "", "text/plain");
  ASSERT_TRUE(ack) << "the acknowledgement was not answered";
  EXPECT_EQ(ack->status, 204);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "not starved";

  // The studio closes each slow connection once its headers are late.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  int closed = 0;
  for (const int fd : slow) {
    char byte = 0;
    if (::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) ++closed;
  }
  dripping = false;
  drip.join();
  for (const int fd : slow) ::close(fd);
  EXPECT_EQ(closed, 200) << "slow connections still held after their headers were late";
}

TEST_F(BridgeTest, ArgumentsAreCheckedBeforeTheyAreConverted) {
  httplib::Client client("127.0.0.1", port_);
  const auto post = [&](const std::string& body) {
    return client.Post("/call/LoadSkin", PageHeaders(), body, "application/json");
  };
  const auto nul = post(std::string("[-1]\0junk{", 11));
  ASSERT_TRUE(nul);
  EXPECT_EQ(nul->status, 400) << "the whole body is the JSON";
  const auto many = post(json(std::vector<int>(100000, 1)).dump());
  ASSERT_TRUE(many);
  EXPECT_EQ(json::parse(many->body)["error"]["number"], 450);
  EXPECT_EQ(Call("LoadSkin", json::parse("[18446744073709551615]"))["error"]["number"], 6)
      << "no wrap to -1";
  EXPECT_EQ(Call("SetVideoSize", json::parse("[9223372036854775807, 240]"))["error"]["number"], 6);
  EXPECT_EQ(Call("ClientStatus", json::array(), "get"), (json{{"value", 1}})) << "nothing ran";

  const auto ack = client.Post("/ack/9999999999999999999", PageHeaders(), "", "text/plain");
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->status, 404);
  EXPECT_FALSE(ack->has_header("EXCEPTION_WHAT"));
  const auto refused =
      client.Post("/call/Miror", {{"Origin", "http://evil.example"}}, "[]", "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->get_header_value("Referrer-Policy"), "no-referrer") << "on every answer";
}

}  // namespace
}  // namespace moviletta::testing
