// SPDX-License-Identifier: GPL-3.0-or-later
// The web host's own parts: the event stream's ids across a restart, and the properties saved at
// the host's next turn.
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>

#include "host/studio/sessions.h"
#include "moviletta/server/curl_http_client.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

using nlohmann::json;

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
