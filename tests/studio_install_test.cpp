// SPDX-License-Identifier: GPL-3.0-or-later
// The studio as a visitor has it installed: its data in the user's own folder, its settings
// from the user's settings file, one studio per user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "host/studio/user_folders.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/studio_process.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class StudioInstallTest : public ::testing::Test {
 protected:
  StudioInstallTest() { fs::create_directories(home_); }
  ~StudioInstallTest() override { fs::remove_all(home_); }

  fs::path data() const { return home_ / ".local/share/moviletta"; }
  // Whether the studio's control started against `server`, as its page sees it.
  static bool Ready(const StudioProcess& studio) {
    studio.Post("/claim?page=own");
    return studio.Call("ClientStatus?kind=get").body == R"({"value":1})";
  }

  fs::path home_ = fs::temp_directory_path() / ("studio-home-" + std::to_string(getpid()));
  GreetingServerFixture server_;
};

TEST(UserFolders, FollowTheXdgBaseDirectoriesWithTheHomeAsTheirDefault) {
  const auto folders = [](std::map<std::string, std::string> env) {
    return web::UserFoldersFrom([env](const char* name) -> const char* {
      const auto found = env.find(name);
      return found == env.end() ? nullptr : found->second.c_str();
    });
  };
  const auto home = folders({{"HOME", "/home/ann"}});
  ASSERT_TRUE(home);
  EXPECT_EQ(home->data, "/home/ann/.local/share/moviletta");
  EXPECT_EQ(home->settings_file, "/home/ann/.config/moviletta/studio.conf");
  const auto xdg = folders(
      {{"HOME", "/home/ann"}, {"XDG_DATA_HOME", "/data"}, {"XDG_CONFIG_HOME", "relative/conf"}});
  ASSERT_TRUE(xdg);
  EXPECT_EQ(xdg->data, "/data/moviletta");
  EXPECT_EQ(xdg->settings_file, "/home/ann/.config/moviletta/studio.conf")
      << "a relative XDG folder counts as unset";
  EXPECT_FALSE(folders({})) << "no home, no folders";
}

TEST_F(StudioInstallTest, KeepsEverythingInTheUsersOwnDataFolder) {
  server_.SetSettings(SettingsDocument(server_.address()));
  StudioProcess studio(server_.address(), "", home_.string());
  ASSERT_GT(studio.port, 0);
  EXPECT_GE(studio.port, 47800);
  EXPECT_LT(studio.port, 47810) << "where greeting sites' pages look for the studio";
  EXPECT_TRUE(Ready(studio));
  struct stat folder {};
  ASSERT_EQ(stat(data().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_TRUE(fs::exists(data() / "launch-token"));
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(home_)) {
    const fs::path below = item.path().lexically_relative(data());
    const bool ancestor = data().string().starts_with(item.path().string() + "/");
    EXPECT_TRUE(ancestor || *below.begin() != "..") << item.path() << " is outside its folder";
  }
}

TEST_F(StudioInstallTest, ASecondStudioForTheSameUserShowsTheFirstAndEnds) {
  server_.SetSettings(SettingsDocument(server_.address()));
  StudioProcess first(server_.address(), "", home_.string());
  ASSERT_GT(first.port, 0);
  // The user's browser opener records what it is asked to open.
  fs::create_directories(home_ / ".local/bin");
  WriteFile((home_ / ".local/bin/xdg-open").string(),
            "#!/bin/sh\necho \"$1\" >> \"$HOME/opened\"\n");
  fs::permissions(home_ / ".local/bin/xdg-open", fs::perms::owner_all);

  StudioProcess second(server_.address(), "", home_.string(), {"--open"});
  EXPECT_EQ(second.port, first.port);
  EXPECT_EQ(second.token, first.token);
  EXPECT_TRUE(second.EndsWithin(std::chrono::seconds(10))) << "it ends, with status 0";
  for (int i = 0; i < 50 && ReadFile((home_ / "opened").string()).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ReadFile((home_ / "opened").string()), first.self() + "/?token=" + first.token + "\n")
      << "the first one's page is opened";
  EXPECT_TRUE(Ready(first)) << "the first one goes on";
}

TEST_F(StudioInstallTest, AStudioStartedWhileTheFormerOneStopsTakesOver) {
  server_.SetSettings(SettingsDocument(server_.address()));
  StudioProcess former(server_.address(), "", home_.string());
  ASSERT_GT(former.port, 0);
  former.Signal(SIGTERM);
  StudioProcess next(server_.address(), "", home_.string());
  ASSERT_GT(next.port, 0);
  EXPECT_TRUE(former.EndsWithin(std::chrono::seconds(2)));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(next.Alive()) << "it is the studio now, not a second one";
  EXPECT_TRUE(Ready(next));
}

TEST_F(StudioInstallTest, TheSettingsFileIsReadAndTheCommandLineWins) {
  GreetingServerFixture other;
  for (GreetingServerFixture* server : {&server_, &other})
    server->SetSettings(SettingsDocument(server->address()));
  fs::create_directories(home_ / ".config/moviletta");
  WriteFile((home_ / ".config/moviletta/studio.conf").string(),
            "server = " + server_.address() + "\noutbox-entries = 3\n");
  {
    StudioProcess studio("", "", home_.string());
    ASSERT_GT(studio.port, 0);
    EXPECT_TRUE(Ready(studio));
    EXPECT_FALSE(server_.RequestsTo("/clientSettings.asp").empty()) << "the settings' server";
  }
  StudioProcess studio(other.address(), "", home_.string());
  ASSERT_GT(studio.port, 0);
  EXPECT_TRUE(Ready(studio));
  EXPECT_FALSE(other.RequestsTo("/clientSettings.asp").empty()) << "the command line's server";
}

// What a command prints, standard error included.
std::string OutputOf(const std::string& command) {
  std::string output;
  FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  pclose(pipe);
  return output;
}

// The studio's own greeting server is asked over TLS unless another is named, and a plain http
// address of another machine is said at start: the settings document carries the mail password.
TEST_F(StudioInstallTest, TheGreetingServerIsAskedOverTlsUnlessNamedOtherwise) {
  const std::string studio = MOVILETTA_STUDIO_BINARY;
  EXPECT_NE(OutputOf(studio + " --help").find("https://greetings.movilettastudio.com"),
            std::string::npos);
  const auto started_with = [&](const std::string& server) {
    return OutputOf("HOME=" + home_.string() + " timeout 2 " + studio + " --server " + server +
                    " --camera synthetic --port 0 --bag ''");
  };
  const std::string plain = started_with("http://greetings.example.org");
  EXPECT_NE(plain.find("http://greetings.example.org is not a secure (https) address"),
            std::string::npos)
      << plain;
  EXPECT_EQ(started_with(server_.address()).find("not a secure"), std::string::npos)
      << "a greeting server on this machine";
}

// A setting the studio does not know (a misspelt option) is said at start, and the studio still
// starts: it may be starting at login, with no one to read a usage error.
TEST_F(StudioInstallTest, AMisspeltSettingIsSaidAndTheStudioStillStarts) {
  fs::create_directories(home_ / ".config/moviletta");
  WriteFile((home_ / ".config/moviletta/studio.conf").string(),
            "server = " + server_.address() + "\noutbox-entires = 3\n");
  const std::string said =
      OutputOf("HOME=" + home_.string() + " timeout 2 " + MOVILETTA_STUDIO_BINARY +
               " --camera synthetic --port 0 --bag ''");
  EXPECT_NE(said.find("\"outbox-entires\", which is no option of the studio"), std::string::npos)
      << said;
  EXPECT_NE(said.find("Moviletta studio: http://127.0.0.1:"), std::string::npos) << said;
}

// A studio whose program is removed (its package removed or upgraded) ends by itself within
// seconds with status 75, so that its unit starts the new program if there is one.
TEST_F(StudioInstallTest, AStudioWhoseProgramIsRemovedEndsByItself) {
  const fs::path copy = home_ / "moviletta-studio";
  fs::copy_file(MOVILETTA_STUDIO_BINARY, copy);
  const std::string said =
      OutputOf("cd " + home_.string() + " && HOME=" + home_.string() + " timeout 20 " +
               copy.string() + " --server " + server_.address() +
               " --camera synthetic --port 0 --bag '' & sleep 1; rm " + copy.string() +
               "; started=$(date +%s); wait $!; echo \"status $? after $(( $(date +%s) - "
               "started )) s\"");
  EXPECT_NE(said.find("its program was removed or replaced"), std::string::npos) << said;
  const auto status = said.rfind("status 75 after ");
  ASSERT_NE(status, std::string::npos) << said;
  EXPECT_LE(std::stoi(said.substr(status + 16)), 5) << said;
}

}  // namespace
}  // namespace moviletta::testing
