// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting service killed (SIGKILL) in the middle of its work: after its restart every
// recipient has their mail; a second copy only where the kill fell between the relay's
// acceptance and its record, and then with the same Message-ID.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/studio_mails.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

TEST(ServiceKillTest, KilledDuringItsJobsEveryRecipientGetsTheirMailOnce) {
  const std::string folder =
      (fs::temp_directory_path() / ("moviletta-kill-" + std::to_string(::getpid()))).string();
  const std::string data = folder + "/data";
  MakeGreetingFiles(folder + "/studio", 20);
  const std::string mail = StudioMail(
      folder + "/studio", "A greeting",
      MessageDocument("Ann", "ann@example.com",
                      "Bob,,bob@example.com;Cy,,cy@example.com;Di,,di@example.com", "Hi"));
  std::ofstream(folder + "/greeting.eml", std::ios::binary) << mail;
  ASSERT_EQ(RunGreetings({"migrate", "--data", data}).status, 0);
  MailDrop relay({"--delay", "0.7"});  // each mail takes the relay 0.7 s to accept
  const std::vector<std::string> options{
      "--relay", "smtp://" + relay.host(), "--lease", "2", "--threads", "1"};
  int kills = 0;
  {
    auto service = std::make_unique<GreetingsProcess>(data, options);
    ASSERT_GT(service->port, 0);
    ASSERT_EQ(DeliverFile(data, folder + "/greeting.eml"), 0);
    // Killed while it converts, then between the recipients' mails, started again each time.
    ASSERT_TRUE(ConversionStarts(data, std::chrono::seconds(5)));
    service->Signal(SIGKILL);
    ++kills;
    service = std::make_unique<GreetingsProcess>(data, options);
    ASSERT_TRUE(relay.WaitForMail(1, std::chrono::seconds(60)));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    service->Signal(SIGKILL);
    ++kills;
    service = std::make_unique<GreetingsProcess>(data, options);
    ASSERT_TRUE(relay.WaitForMail(4, std::chrono::seconds(60))) << "three recipients and Ann";
    std::this_thread::sleep_for(std::chrono::seconds(3));  // any second copy arrives meanwhile
  }
  std::map<std::string, std::vector<std::string>> ids;  // address to the Message-IDs it got
  for (int n = 1; n <= relay.Count(); ++n) {
    const std::string base = *relay.WaitForMail(n, std::chrono::seconds(1));
    const std::string envelope = MailDrop::Read(base + ".envelope");
    std::smatch id;
    const std::string eml = MailDrop::Read(base + ".eml");
    ASSERT_TRUE(std::regex_search(eml, id, std::regex("Message-Id: <([^>]+)>", std::regex::icase)));
    ids[envelope.substr(envelope.find('\n') + 1)].push_back(id[1]);
  }
  int second_copies = 0;
  for (const char* who :
       {"bob@example.com\n", "cy@example.com\n", "di@example.com\n", "ann@example.com\n"}) {
    ASSERT_TRUE(ids.count(who)) << who << " got no mail";
    const std::vector<std::string>& got = ids[who];
    for (const std::string& id : got) EXPECT_EQ(id, got.front()) << who << "a retry keeps its id";
    second_copies += static_cast<int>(got.size()) - 1;
  }
  EXPECT_LE(second_copies, kills) << "at most one second copy for each kill";
  std::printf("killed %d times: %d second copies (each the same mail again)\n", kills,
              second_copies);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace moviletta::testing
