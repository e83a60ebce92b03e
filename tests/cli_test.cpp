// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line host as a C++ host's user runs it: whatever the umask, everything the control
// writes for the visitor is theirs alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/mail_drop.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

// Under the usual umask 022 the CLI loads a skin, records, and sends a greeting that the mail
// server refuses (so that it is kept in the outbox): every folder below the application folder is
// 0700 and every file 0600.
TEST(CommandLineHost, WritesEverythingForItsOwnerAloneUnderTheUsualUmask) {
  MailDrop refusing({"--reject-rcpt"});
  GreetingServerFixture server;
  server.SetSettings(SettingsDocument(
      server.address(), {{"SECLIMIT", "1"}, {"ANIMPREVIEW", "0"}, {"SMTPHOST", refusing.host()}}));
  server.SetSkinAnswer(42, "SKIN,frames/42/,2,extra");
  for (int frame = 1; frame <= 2; ++frame)
    server.ServeSkinFile("frames/42/" + std::to_string(frame) + ".gif",
                         {200, SolidGif(32, 24, {255, 0, 0})});
  const fs::path app = fs::temp_directory_path() / ("moviletta-cli-" + std::to_string(getpid()));
  const std::string command = "umask 022; " MOVILETTA_CLI_BINARY " --server " + server.address() +
                              " --app-dir " + app.string() +
                              " --camera synthetic LoadSkin=42 Wait=2 RecordVideo Wait=2 "
                              "'SendByEmail=Ann|a@x.test|Carl|555||Hi' Wait=3 2>&1";
  FILE* cli = popen(command.c_str(), "r");
  ASSERT_TRUE(cli);
  std::string said;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, cli)) > 0;) said.append(buffer, n);
  pclose(cli);
  ASSERT_TRUE(fs::exists(app / "Moviletta.avi")) << said;
  ASSERT_TRUE(fs::exists(app / "OUTBOX")) << said;
  ASSERT_TRUE(fs::exists(app / "SKINS" / "ml_skin_42" / "2.gif")) << said;

  EXPECT_EQ(fs::status(app).permissions() & fs::perms::all, fs::perms::owner_all);
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(app)) {
    if (entry.is_symlink()) continue;
    const fs::perms mode = entry.status().permissions() & fs::perms::all;
    const fs::perms own = entry.is_directory() ? fs::perms::owner_all
                                               : fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(mode & ~own, fs::perms::none) << entry.path() << " is open to others";
    ++files;
  }
  EXPECT_GT(files, 5) << said;
  fs::remove_all(app);
}

}  // namespace
}  // namespace moviletta::testing
