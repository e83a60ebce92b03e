// The studio program as a person runs it: it stops at once on a signal, whatever it is doing.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/studio_process.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class StudioProcessTest : public ::testing::Test {
 protected:
  StudioProcessTest() {
    server_.SetSettings(SettingsDocument(server_.address(), {{"ANIMPREVIEW", "1"}}));
    PrepareAppFolder(app_dir_);
  }
  ~StudioProcessTest() override { fs::remove_all(app_dir_); }

  GreetingServerFixture server_;
  std::string app_dir_ =
      (fs::temp_directory_path() / ("moviletta-studio-" + std::to_string(getpid()))).string();
};

TEST_F(StudioProcessTest, StopsWithinTwoSecondsInsideAYieldAndAnswersEveryWaitingCall) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  // An animated skin's preview yields until something stops it; calls behind it run inside it.
  auto preview =
      std::async(std::launch::async, [&] { return studio.Call("LoadSkin", "[42]").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").status, 200) << "answered inside the preview";
  auto waiting = std::async(std::launch::async, [&] { return studio.Call("RecordVideo").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  studio.Signal(SIGTERM);
  EXPECT_TRUE(studio.EndsWithin(std::chrono::seconds(2)));
  for (std::future<int>* call : {&preview, &waiting}) {
    ASSERT_EQ(call->wait_for(std::chrono::seconds(1)), std::future_status::ready);
    const int status = call->get();
    EXPECT_TRUE(status == 200 || status == 503) << status;
  }
}

TEST_F(StudioProcessTest, StopsWithinTwoSecondsWhileTheSettingsAnswerIsSlow) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  server_.slow_delay = std::chrono::seconds(6);
  server_.MisbehaveOnSettings("slow");
  auto settings =
      std::async(std::launch::async, [&] { return studio.Call("LoadClientSettings").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto waiting =
      std::async(std::launch::async, [&] { return studio.Call("ClientStatus?kind=get").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const auto start = Clock::now();
  studio.Signal(SIGTERM);
  EXPECT_TRUE(studio.EndsWithin(std::chrono::seconds(2)))
      << "still running after " << std::chrono::duration<double>(Clock::now() - start).count();
  for (std::future<int>* call : {&settings, &waiting}) {
    ASSERT_EQ(call->wait_for(std::chrono::seconds(1)), std::future_status::ready);
    const int status = call->get();
    EXPECT_TRUE(status == 200 || status == 503) << status;
  }
}

}  // namespace
}  // namespace moviletta::testing
