// SPDX-License-Identifier: GPL-3.0-or-later
// moviletta-greetings from outside, as a site owner runs it and a studio uses it: its commands,
// and a studio that records at the settings the owner set and shows the owner's skins.
#include <httplib.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "service/store/sqlite_store.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/studio_fixture.h"
#include "tests/fixtures/studio_process.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class GreetingsServiceTest : public StudioProcessTest {
 protected:
  ~GreetingsServiceTest() override { fs::remove_all(data_); }

  std::string data_ = app_dir_ + "-service";
};

TEST_F(GreetingsServiceTest, ItsCommandsSayHowTheyEnded) {
  EXPECT_EQ(RunGreetings({"--version"}).output, "moviletta-greetings 1.6\n");
  EXPECT_EQ(RunGreetings({"serve", "--data", data_, "--no-such-option"}).status, 2);
  EXPECT_EQ(RunGreetings({"serve"}).status, 2) << "the data folder is required";
  EXPECT_EQ(RunGreetings({"migrate", "--data", data_, "--database", "mysql://x"}).status, 2);
  EXPECT_EQ(RunGreetings({"migrate", "--data", data_}).status, 0);
  EXPECT_EQ(fs::status(data_).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(data_ + "/greetings.sqlite3").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  const CommandOutcome added = RunGreetings({"admin", "add", "ann", "--data", data_});
  EXPECT_EQ(added.status, 0);
  EXPECT_TRUE(std::regex_match(added.output, std::regex("[0-9a-f]{24}\n"))) << added.output;
  EXPECT_EQ(RunGreetings({"admin", "add", "ann", "--data", data_}).status, 1) << "taken";
  const CommandOutcome refused =
      RunGreetings({"settings", "--data", data_, "--site", "a.example", "FPS=90"});
  EXPECT_EQ(refused.status, 1);

  GreetingsProcess service(data_);
  ASSERT_GT(service.port, 0);
  httplib::Client client("127.0.0.1", service.port);
  const std::string password = added.output.substr(0, 24);
  const auto signed_in = client.Post("/admin/signin", "name=ann&password=" + password,
                                     "application/x-www-form-urlencoded");
  ASSERT_TRUE(signed_in);
  EXPECT_EQ(signed_in->status, 303) << "the printed password signs in";
  service.Signal(SIGTERM);
  EXPECT_EQ(service.EndsWithin(std::chrono::seconds(3)), 0);
}

// The owner sets FPS and SECLIMIT and adds an animated and a static skin; a studio started
// against the service records for the new limit, shows both skins and announces itself.
TEST_F(GreetingsServiceTest, AStudioRecordsAtTheOwnersSettingsWithTheOwnersSkins) {
  GreetingsProcess service(data_);
  ASSERT_GT(service.port, 0);
  const std::string site = service.host();
  EXPECT_EQ(RunGreetings({"settings", "--data", data_, "--site", site, "FPS=10", "SECLIMIT=2",
                          "ANIMPREVIEW=0"})
                .status,
            0);
  const std::string frames = app_dir_ + "-frames";
  fs::create_directories(frames);
  for (int i = 1; i <= 3; ++i)
    WriteFile(frames + "/" + std::to_string(i) + ".gif",
              SolidGif(32, 24, {static_cast<uint8_t>(80 * i), 0, 255}));
  WriteFile(frames + "/still.gif", SolidGif(32, 24, {0, 200, 0}));
  EXPECT_EQ(RunGreetings({"skin", "add", "--data", data_, "--site", site, "--id", "43", "--name",
                          "Circling star", "--kind", "SKIN", frames + "/1.gif", frames + "/2.gif",
                          frames + "/3.gif"})
                .status,
            0);
  EXPECT_EQ(RunGreetings({"skin", "add", "--data", data_, "--site", site, "--id", "8", "--name",
                          "Golden frame", "--kind", "STATIC", frames + "/still.gif"})
                .status,
            0);
  WriteFile(frames + "/bad.gif", "GIF89a\xff\xff\xff\xff");
  EXPECT_EQ(RunGreetings({"skin", "add", "--data", data_, "--site", site, "--id", "9", "--name",
                          "Bad", "--kind", "STATIC", frames + "/bad.gif"})
                .status,
            1)
      << "a picture the studio could not show is refused";
  fs::remove_all(frames);

  StudioProcess studio(service.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_EQ(studio.Post("/claim?page=own").status, 204);
  const auto skins = nlohmann::json::parse(*studio.Get("/skins"));
  ASSERT_EQ(skins.size(), 2u) << skins.dump();
  EXPECT_EQ(skins[0]["name"], "Circling star");
  EXPECT_EQ(skins[1]["id"], 8);
  EXPECT_EQ(studio.Call("LoadSkin", "[43]").status, 200);
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":1})");
  const auto loaded = studio.FirstEvent("skin", std::chrono::seconds(5));
  ASSERT_TRUE(loaded);
  EXPECT_NE(loaded->find("43"), std::string::npos) << *loaded;

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(studio.Call("RecordVideo").status, 200);
  while (studio.Call("ClientStatus?kind=get").body != R"({"value":1})" &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(took, std::chrono::milliseconds(1800)) << "SECLIMIT 2";
  EXPECT_LT(took, std::chrono::milliseconds(5000)) << "SECLIMIT 2, not the default 60";

  service::SqliteStore store(data_ + "/greetings.sqlite3");
  const std::optional<int64_t> id = store.SiteOf(site);
  ASSERT_TRUE(id);
  const auto registered = store.Registrations(*id);
  ASSERT_EQ(registered.size(), 1u);
  EXPECT_EQ(registered[0].version, "1.6");
  EXPECT_TRUE(store.Reports(*id, {}).empty()) << store.Reports(*id, {})[0].description;
}

}  // namespace
}  // namespace moviletta::testing
