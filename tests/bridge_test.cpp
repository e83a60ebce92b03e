// The web host's bridge over real HTTP: member calls, events, message boxes, and the door kept
// shut to everyone but the host's own page.
#include <arpa/inet.h>
#include <httplib.h>
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

#include "host/studio/bridge.h"
#include "host/access/secret.h"
#include "host/studio/sessions.h"
#include "moviletta/server/curl_http_client.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

using nlohmann::json;

class BridgeTest : public ::testing::Test {
 protected:
  BridgeTest() {
    server_.SetSettings(SettingsDocument(server_.address()));
    Components components = FakeComponents();
    components.http = std::make_unique<CurlHttpClientFactory>(TestHttpOptions());
    components.volume_serial = [] { return std::optional<uint32_t>(3000000000u); };
    EXPECT_EQ(site_.Create(std::move(components),
                           {.server_address = server_.address(), .app_directory = app_}, true),
              std::nullopt);
    site_.control()->DetachFromHostThread();  // made here, run by the host thread below
    port_ = bridge_.Start();
    self_ = "127.0.0.1:" + std::to_string(port_);
    // From here on only the host thread touches the control.
    host_thread_ = std::thread([this] {
      while (!stop_) host_.ProcessPendingEvents(std::chrono::milliseconds(20));
    });
  }
  ~BridgeTest() override {
    bridge_.Stop();
    stop_ = true;
    host_thread_.join();
    if (site_.control()) site_.control()->DetachFromHostThread();  // closed by this thread
    site_.Destroy();
    std::error_code ec;
    std::filesystem::remove_all(app_, ec);
  }

  httplib::Headers PageHeaders() const {
    return {{"Origin", "http://" + self_}, {"X-Moviletta-Token", token_}};
  }
  // A member call as the page makes it; returns the reply.
  json Call(const std::string& member, json args = json::array(), const std::string& kind = "") {
    httplib::Client client("127.0.0.1", port_);
    const auto res =
        client.Post(("/call/" + member + (kind.empty() ? "" : "?kind=" + kind)).c_str(),
                    PageHeaders(), args.dump(), "application/json");
    if (!res || res->status != 200) return json{{"status", res ? res->status : -1}};
    return json::parse(res->body);
  }
  // The events published so far, read from the page's event stream.
  std::vector<std::pair<std::string, json>> Events(std::size_t at_least) {
    std::vector<std::pair<std::string, json>> events;
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(5, 0);
    std::string buffer;
    client.Get(("/events?token=" + token_).c_str(), [&](const char* data, std::size_t size) {
      buffer.append(data, size);
      for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
        const std::string block = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        const auto name = block.find("event: "), data_at = block.find("data: ");
        if (name == std::string::npos || data_at == std::string::npos) continue;
        events.emplace_back(block.substr(name + 7, block.find('\n', name) - name - 7),
                            json::parse(block.substr(data_at + 6)));
      }
      return events.size() < at_least;
    });
    return events;
  }

  std::string app_ = ::testing::TempDir() + "bridge-app-" + std::to_string(getpid());
  GreetingServerFixture server_;
  web::EventStream stream_;
  ModuleState module_;
  web::WebHost host_{stream_, "", module_};
  ControlSite site_{host_, host_.queue(), module_};
  std::string token_ = web::NewToken();
  web::FrameFeed capture_feed_;
  web::FrameFeed player_feed_;
  web::Bridge bridge_{
      host_, site_, stream_, {capture_feed_, player_feed_}, MOVILETTA_SOURCE_DIR "/host/web",
      token_};
  int port_ = 0;
  std::string self_;
  std::atomic<bool> stop_{false};
  std::thread host_thread_;
};

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
  const json loading = {{"ClientStatus", 2},
                        {"ErrMsg", ""},
                        {"SecondsLimit", 30},
                        {"VideoWidth", 320},
                        {"VideoHeight", 240}};
  EXPECT_EQ(events[3], (std::pair<std::string, json>{"StatusChanged", loading}))
      << "with what a page needs to show the recording's time and the stage's size";
  EXPECT_EQ(events[4].first, "StatusChanged");
  EXPECT_EQ(events[4].second["ClientStatus"], 1);
}

// A start-up that fails with any exception says "failed" with its reason, and the page's calls
// go on; calls that wait for a start-up still under way are answered when the bridge stops.
TEST_F(BridgeTest, AStartUpFailingWithAnythingIsToldAndNoCallOutwaitsTheStop) {
  web::Sessions sessions(host_, site_, stream_, bridge_,
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

// Sends `head` (a request line and headers, without the blank line) and whatever `body` holds
// over a raw connection, then returns what the server answered within a second: the gate must
// answer from the headers alone, before any promised body arrives.
std::string RawRequest(int port, const std::string& head, const std::string& body = "") {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "";
  const std::string request = head + "\r\n\r\n" + body;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return "";
  timeval limit{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
    answer.append(buffer, static_cast<std::size_t>(got));
    if (answer.find("\r\n\r\n") != std::string::npos) break;
  }
  ::close(fd);
  return answer;
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

TEST_F(BridgeTest, IdleConnectionsDoNotStarveThePagesCalls) {
  std::vector<int> idle;
  for (int i = 0; i < 50; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    idle.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call("ClientStatus", json::array(), "get"), (json{{"value", 1}}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "not starved";
  for (const int fd : idle) ::close(fd);
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

// A site the visitor allowed reads the answers to its own page's calls with its own token;
// every other origin, and the studio's token from a site, gets nothing it can read.
TEST_F(BridgeTest, OnlyAllowedSitesWithTheirOwnTokenGetAnswersTheyCanRead) {
  const std::string file = ::testing::TempDir() + "sites-" + std::to_string(getpid()) + ".json";
  web::SiteConsent consent(file);
  const std::string site = "https://greetings.example.org";
  const std::string site_token = consent.Allow(site);
  web::Bridge bridge(host_, site_, stream_, {capture_feed_, player_feed_},
                     MOVILETTA_SOURCE_DIR "/host/web", token_);
  bridge.ServeSites(consent);
  const int port = bridge.Start();
  httplib::Client client("127.0.0.1", port);
  const auto call = [&](const std::string& origin, const std::string& token) {
    return client.Post("/call/ClientStatus?kind=get",
                       {{"Origin", origin}, {"X-Moviletta-Token", token}}, "[]",
                       "application/json");
  };

  const auto preflight = client.Options(
      "/call/ClientStatus", {{"Origin", site},
                             {"Access-Control-Request-Method", "POST"},
                             {"Access-Control-Request-Headers", "content-type,x-moviletta-token"},
                             {"Access-Control-Request-Private-Network", "true"}});
  ASSERT_TRUE(preflight);
  EXPECT_EQ(preflight->status, 204);
  EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Origin"), site);
  EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Private-Network"), "true");
  EXPECT_NE(preflight->get_header_value("Access-Control-Allow-Headers").find("X-Moviletta-Token"),
            std::string::npos);

  const auto answered = call(site, site_token);
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200);
  EXPECT_EQ(answered->get_header_value("Access-Control-Allow-Origin"), site);
  EXPECT_EQ(json::parse(answered->body), (json{{"value", 1}}));

  EXPECT_EQ(call(site, token_)->status, 403) << "the studio's own token is not the site's";
  EXPECT_EQ(client.Get("/hello", {{"Origin", site}, {"X-Moviletta-Token", site_token}})->status,
            200);
  EXPECT_EQ(client
                .Post("/claim?page=site-tab", {{"Origin", site}, {"X-Moviletta-Token", site_token}},
                      "", "text/plain")
                ->status,
            204);
  const auto driver = Events(3);
  EXPECT_NE(
      std::find(driver.begin(), driver.end(),
                std::pair<std::string, json>{"driver", {{"page", "site-tab"}, {"origin", site}}}),
      driver.end())
      << "the studio's page learns which site drives";
  for (const std::string& other : {std::string("https://evil.example.org"), std::string("null")}) {
    const auto refused = call(other, site_token);
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
    httplib::Client listener("127.0.0.1", port);
    listener.set_read_timeout(20);
    std::string said;
    listener.Get("/events?token=" + site_token, {{"Origin", site}},
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
    httplib::Client viewer("127.0.0.1", port);
    viewer.set_read_timeout(20);
    viewer.Get("/video/capture?token=" + site_token, [](const char*, std::size_t) { return true; });
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
  EXPECT_FALSE(ended) << "the site's page is listening";
  EXPECT_FALSE(watching_ended) << "and watching";
  consent.Revoke(site);
  EXPECT_EQ(watching.wait_for(std::chrono::seconds(1)), std::future_status::ready)
      << "the picture ends with the revoke";
  camera.join();
  ASSERT_EQ(events.wait_for(std::chrono::seconds(1)), std::future_status::ready);
  EXPECT_TRUE(events.get().ends_with("event: revoked\ndata: {}\n\n"));
  const auto after = call(site, site_token);
  EXPECT_EQ(after->status, 403);
  EXPECT_FALSE(after->has_header("Access-Control-Allow-Origin"));
  bridge.Stop();
  std::remove(file.c_str());
}

// The question to the visitor is served to whoever opens it, never inside anybody's frame; it
// holds no secret (the studio's own page left its token in the browser).
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
      [&](const std::string& origin) { forgotten.set_value(origin); });
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

TEST(EventStreamIds, APageThatReconnectsWithAnIdThisStudioNeverGaveStartsAfresh) {
  uint64_t seen = 0;
  {
    web::EventStream earlier;  // the studio's process before a restart
    for (int i = 0; i < 5; ++i) earlier.Publish("progress", {{"value", i * 20}});
    earlier.Current(seen);
  }
  web::EventStream now;
  now.Publish("StatusChanged", {{"ClientStatus", 1}});
  for (uint64_t last_seen : {seen, seen + 1000000000}) {  // earlier, and one never given
    uint64_t after = last_seen;
    const auto start = std::chrono::steady_clock::now();
    const auto events = now.Next(after, std::chrono::seconds(2));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "at once";
    ASSERT_EQ(events.size(), 1u) << "the current state";
    EXPECT_EQ(events[0].name, "StatusChanged");
    uint64_t current = 0;
    now.Current(current);
    EXPECT_EQ(after, current) << "and the live events follow";
  }
}

// The control's changed properties reach the bag file at the host's next turn, whatever call
// changed them, and once for changes made together.
TEST(WebHostProperties, ChangedPropertiesAreSavedAtTheHostsNextTurn) {
  GreetingServerFixture server;
  server.SetSettings(SettingsDocument(server.address()));
  const std::string bag = ::testing::TempDir() + "web-host-bag-" + std::to_string(getpid());
  web::EventStream stream;
  ModuleState module;
  web::WebHost host(stream, bag, module);
  ControlSite site(host, host.queue(), module);
  int saves = 0;
  host.OnPropertyChanges([&] {
    ++saves;
    site.SaveProperties();
  });
  Components components = FakeComponents();
  components.http = std::make_unique<CurlHttpClientFactory>(TestHttpOptions());
  const std::string app = bag + "-app";
  ASSERT_EQ(site.Create(std::move(components),
                        {.server_address = server.address(), .app_directory = app}, true),
            std::nullopt);
  site.Call("Miror", MemberKind::kPropertyPut, {Variant(true)});
  site.Call("Miror", MemberKind::kPropertyPut, {Variant(false)});
  site.Call("Miror", MemberKind::kPropertyPut, {Variant(true)});
  host.ProcessPendingEvents();
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(json::parse(ReadFile(bag)).value("Miror", json()), true);
  site.Destroy();
  std::remove(bag.c_str());
  std::filesystem::remove_all(app);
}

}  // namespace
}  // namespace moviletta::testing