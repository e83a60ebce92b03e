// The studio program as a person runs it: it stops at once on a signal, whatever it is doing.
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <regex>
#include <thread>

#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// moviletta-studio in a process of its own, with the synthetic camera and a fresh application
// folder; killed when the test ends.
class StudioProcess {
 public:
  StudioProcess(const std::string& server, const std::string& app_dir) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      execl(MOVILETTA_STUDIO_BINARY, "moviletta-studio", "--server", server.c_str(), "--app-dir",
            app_dir.c_str(), "--camera", "synthetic", "--bag", "", nullptr);
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
    char line[512];
    const std::regex address(R"(http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]+))");
    while (fgets(line, sizeof line, output_)) {
      std::cmatch found;
      if (std::regex_search(line, found, address)) {
        port = std::stoi(found[1]);
        token = found[2];
        break;
      }
    }
  }
  ~StudioProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_) fclose(output_);
  }

  // Waits up to `limit` for the process to end; true when it did, with exit status 0.
  bool EndsWithin(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  void Signal(int signal) const { kill(pid_, signal); }

  // A member call as the page makes it; the HTTP status, or -1 without an answer.
  int Call(const std::string& member, const std::string& args = "[]") const {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    const std::string self = "http://127.0.0.1:" + std::to_string(port);
    const auto res =
        client.Post("/call/" + member, {{"Origin", self}, {"X-Moviletta-Token", token}}, args,
                    "application/json");
    return res ? res->status : -1;
  }

  int port = 0;
  std::string token;

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  bool exited_ = false;
};

class StudioProcessTest : public ::testing::Test {
 protected:
  StudioProcessTest() {
    server_.SetSettings(SettingsDocument(server_.address(), {{"ANIMPREVIEW", "1"}}));
    fs::create_directories(app_dir_ + "/STATICS");
    fs::create_directories(app_dir_ + "/SKINS/ml_skin_42");
    for (int frame = 1; frame <= 3; ++frame)
      WriteFile(app_dir_ + "/SKINS/ml_skin_42/" + std::to_string(frame) + ".gif",
                SolidGif(32, 24, {255, static_cast<uint8_t>(frame * 60), 0}));
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
  auto preview = std::async(std::launch::async, [&] { return studio.Call("LoadSkin", "[42]"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(studio.Call("ClientStatus?kind=get"), 200) << "answered inside the preview";
  auto waiting = std::async(std::launch::async, [&] { return studio.Call("RecordVideo"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  studio.Signal(SIGTERM);
  EXPECT_TRUE(studio.EndsWithin(std::chrono::seconds(2)));
  for (std::future<int>* call : {&preview, &waiting}) {
    ASSERT_EQ(call->wait_for(std::chrono::seconds(1)), std::future_status::ready);
    const int status = call->get();
    EXPECT_TRUE(status == 200 || status == 503) << status;
  }
}

}  // namespace
}  // namespace moviletta::testing
