// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting service behind a real mail server, as a site owner runs it: Postfix takes the
// studio's mail for the mail drop and hands it to `deliver`; what cannot be taken yet stays in
// Postfix's queue until it can, what can never be a greeting goes back with the reason.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "service/store/greetings.h"
#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/mail_server.h"
#include "tests/fixtures/postgres_server.h"
#include "tests/fixtures/studio_mails.h"
#include "tests/fixtures/unprivileged.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return true;
}

// A site as its owner runs it: the service on PostgreSQL (`database`, the shared server unless
// the test has one of its own to stop), a node relaying to a mail drop, and Postfix handing the
// studio's mail to `deliver` as its pipe user.
class MailServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "Postfix's master runs as root";
    fs::create_directories(data);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::others_exec);
    GiveToTheUnprivilegedUser(data);  // `deliver` runs as Postfix's pipe user
  }
  ~MailServerTest() override { fs::remove_all(folder); }

  // Starts the service and Postfix on the database at `url`.
  void Start(const std::string& database_url) {
    url = database_url;
    ASSERT_EQ(RunGreetings({"migrate", "--data", data, "--database", url}).status, 0);
    node = std::make_unique<GreetingsProcess>(
        data, std::vector<std::string>{"--database", url, "--relay", "smtp://" + relay.host()});
    ASSERT_GT(node->port, 0);
    mta = std::make_unique<MailServer>(
        std::vector<std::string>{MOVILETTA_DELIVER_BINARY, "--data", data,
                                 "--database", url, "--recipient", "${recipient}"});
    ASSERT_TRUE(mta->started()) << mta->Log();
  }

  const std::string folder =
      (fs::temp_directory_path() / ("moviletta-mta-test-" + std::to_string(::getpid()))).string();
  const std::string data = folder + "/data";
  std::string url;
  MailDrop relay;
  std::unique_ptr<GreetingsProcess> node;
  std::unique_ptr<MailServer> mta;
};

TEST_F(MailServerTest, PostfixHandsEachMailToDeliverAndKeepsWhatCannotBeTakenYet) {
  Start(PostgresServer::Shared().NewDatabase());
  MakeGreetingFiles(folder + "/studio", 2);

  // The media folder is the site owner's alone for a while: a passing failure, kept queued.
  fs::create_directories(data + "/media");
  ASSERT_EQ(::chmod((data + "/media").c_str(), 0700), 0);
  const std::string document =
      MessageDocument("Ann", "ann@example.com", "Bob,555,bob@example.com", "Hello");
  EXPECT_EQ(
      SendAsStudio(mta->host(), "drop@greetings.test", folder + "/studio", "A greeting", document),
      "")
      << "the mail server takes the mail at once";
  EXPECT_TRUE(WaitFor([&] { return mta->Log().find("status=deferred") != std::string::npos; },
                      std::chrono::seconds(30)))
      << mta->Log();
  EXPECT_EQ(relay.Count(), 0);
  EXPECT_EQ(mta->Queued(), 1);

  GiveToTheUnprivilegedUser(data + "/media");
  mta->Flush();
  EXPECT_TRUE(relay.WaitForMail(2, std::chrono::seconds(60))) << mta->Log();
  EXPECT_TRUE(WaitFor([&] { return mta->Queued() == 0; }, std::chrono::seconds(10)));

  // A mail that can never be a greeting goes back with the reason, and is kept for the owner.
  EXPECT_EQ(
      SendAsStudio(mta->host(), "drop@greetings.test", folder + "/studio", "Hello", "just words"),
      "");
  EXPECT_TRUE(
      WaitFor([&] { return mta->Log().find("neither a message document") != std::string::npos; },
              std::chrono::seconds(30)))
      << mta->Log();
  EXPECT_NE(mta->Log().find("status=bounced"), std::string::npos);
  service::Greetings greetings(service::OpenSql(url, ""));
  EXPECT_EQ(greetings.Quarantined().size(), 1u);
  EXPECT_EQ(greetings.OfSite(1).size(), 1u) << "one greeting, taken once";
}

// PostgreSQL stopped while the studio's mails arrive: Postfix keeps them (deliver answers 75),
// and once the database is back every greeting is taken and each recipient gets one mail.
TEST_F(MailServerTest, TheDatabaseAwayKeepsTheMailsQueuedAndLosesOrDoublesNone) {
  PostgresServer database;
  Start(database.NewDatabase());
  MakeGreetingFiles(folder + "/studio", 1);
  const auto away = std::chrono::steady_clock::now();
  database.Stop();
  for (const char* words : {"one", "two", "three"})
    EXPECT_EQ(
        SendAsStudio(mta->host(), "drop@greetings.test", folder + "/studio", "A greeting",
                     MessageDocument("Ann", "ann@example.com", "Bob,555,bob@example.com", words)),
        "")
        << "the mail server takes each mail at once";
  EXPECT_TRUE(WaitFor(
      [&] {
        const std::string log = mta->Log();
        std::size_t deferred = 0;
        for (auto at = log.find("status=deferred"); at != std::string::npos;
             at = log.find("status=deferred", at + 1))
          ++deferred;
        return deferred >= 3;
      },
      std::chrono::seconds(60)))
      << mta->Log();
  EXPECT_EQ(mta->Queued(), 3);
  std::this_thread::sleep_until(away + std::chrono::seconds(10));
  database.Resume();
  mta->Flush();
  EXPECT_TRUE(relay.WaitForMail(6, std::chrono::seconds(120))) << mta->Log();
  EXPECT_TRUE(WaitFor([&] { return mta->Queued() == 0; }, std::chrono::seconds(10)));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(relay.Count(), 6) << "each greeting's two mails, none twice";
  service::Greetings greetings(service::OpenSql(url, ""));
  EXPECT_EQ(greetings.OfSite(1).size(), 3u);
}

}  // namespace
}  // namespace moviletta::testing
