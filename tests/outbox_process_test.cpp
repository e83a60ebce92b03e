// SPDX-License-Identifier: GPL-3.0-or-later
// The outbox of the studio program killed (SIGKILL) at any moment of a send again: every entry
// whole or gone, at most one mail per send, and nothing sent again that the person did not ask for.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/studio_process.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

// The value of a member call's answer, as JSON.
nlohmann::json Value(const StudioProcess::Answer& answer) {
  const auto reply = nlohmann::json::parse(answer.body, nullptr, false);
  return reply.is_object() && reply.contains("value") ? reply["value"] : nlohmann::json();
}

bool Stopped(const StudioProcess& studio) {
  for (int i = 0; i < 200; ++i) {
    if (Value(studio.Call("ClientStatus?kind=get")) == 1) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(OutboxProcess, KilledWhileSendingAgainLeavesWholeEntriesAndNeverTwoMailsForOneSend) {
  const std::string address = UnusedLocalAddress();
  const std::string port = address.substr(address.rfind(':') + 1);
  GreetingServerFixture server;
  server.SetSettings(
      SettingsDocument(server.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", "127.0.0.1:" + port}}));
  const std::string app =
      (fs::temp_directory_path() / ("moviletta-outbox-" + std::to_string(getpid()))).string();
  PrepareAppFolder(app);

  std::string id;
  std::string greeting;
  {
    StudioProcess studio(server.address(), app);
    ASSERT_GT(studio.port, 0);
    ASSERT_EQ(studio.Call("RecordVideo").status, 200);
    ASSERT_TRUE(Stopped(studio));
    // The mail fails at once; its message box then waits for a page that never comes.
    auto send = std::async(std::launch::async, [&] {
      return studio.Call("SendByEmail", R"(["Ann","a@x","Bob","555","b@x","Hi"])");
    });
    const auto kept = [&] {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(app + "/OUTBOX", ec))
        if (!entry.path().filename().string().starts_with(".")) return true;
      return false;
    };
    for (int i = 0; i < 200 && !kept(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // its failure comes at once
    ASSERT_TRUE(studio.KilledWithin(std::chrono::seconds(2)));
    send.wait();
  }
  for (const auto& entry : fs::directory_iterator(app + "/OUTBOX")) id = entry.path().filename();
  ASSERT_FALSE(id.empty()) << "the greeting waits in the outbox";
  greeting = ReadFile(app + "/OUTBOX/" + id + "/Moviletta.mpg");
  ASSERT_FALSE(greeting.empty());

  MailDrop drop({"--port", port, "--password", "secret"});
  int rounds = 0;
  for (int delay_ms : {0, 5, 15, 30, 60, 100, 200}) {
    ++rounds;
    const int mails_before = drop.Count();
    StudioProcess studio(server.address(), app);
    ASSERT_GT(studio.port, 0);
    ASSERT_TRUE(Stopped(studio));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(drop.Count(), mails_before) << "nothing goes unless the person asks";
    const nlohmann::json outbox = Value(studio.Call("OutboxList"));
    ASSERT_TRUE(outbox.is_string());
    const nlohmann::json entries = nlohmann::json::parse(outbox.get<std::string>());
    if (entries.empty()) break;  // sent and confirmed in an earlier round
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0]["id"], id);
    EXPECT_EQ(ReadFile(app + "/OUTBOX/" + id + "/Moviletta.mpg"), greeting)
        << "whole, round " << rounds;

    auto again = std::async(std::launch::async,
                            [&] { return studio.Call("OutboxSend", "[\"" + id + "\"]"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    ASSERT_TRUE(studio.KilledWithin(std::chrono::seconds(2)));
    again.wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a mail on its way lands
    EXPECT_LE(drop.Count(), mails_before + 1) << "one send, at most one mail";
    for (const auto& item : fs::directory_iterator(app + "/OUTBOX")) {
      if (item.path().filename().string().starts_with(".")) continue;  // cleared at the next start
      EXPECT_EQ(ReadFile((item.path() / "Moviletta.mpg").string()), greeting);
      EXPECT_TRUE(
          nlohmann::json::parse(ReadFile((item.path() / "entry.json").string()), nullptr, false)
              .is_object());
    }
  }
  EXPECT_GE(drop.Count(), 1) << "the greeting went in the end, in " << rounds << " rounds";
  EXPECT_LE(drop.Count(), rounds);
  fs::remove_all(app);
}

}  // namespace
}  // namespace moviletta::testing
