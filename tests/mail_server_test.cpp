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

TEST(MailServerTest, PostfixHandsEachMailToDeliverAndKeepsWhatCannotBeTakenYet) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix's master runs as root";
  const std::string folder =
      (fs::temp_directory_path() / ("moviletta-mta-test-" + std::to_string(::getpid()))).string();
  const std::string data = folder + "/data";
  fs::create_directories(data);
  fs::permissions(folder, fs::perms::owner_all | fs::perms::others_exec);
  GiveToTheUnprivilegedUser(data);  // `deliver` runs as Postfix's pipe user
  const std::string url = PostgresServer::Shared().NewDatabase();
  ASSERT_EQ(RunGreetings({"migrate", "--data", data, "--database", url}).status, 0);
  MailDrop relay;
  GreetingsProcess service(data, {"--database", url, "--relay", "smtp://" + relay.host()});
  ASSERT_GT(service.port, 0);
  MailServer mta({MOVILETTA_GREETINGS_BINARY, "deliver", "--data", data, "--database", url,
                  "--recipient", "${recipient}"});
  ASSERT_TRUE(mta.started()) << mta.Log();
  MakeGreetingFiles(folder + "/studio", 2);

  // The media folder is the site owner's alone for a while: a passing failure, kept queued.
  fs::create_directories(data + "/media");
  ASSERT_EQ(::chmod((data + "/media").c_str(), 0700), 0);
  const std::string document =
      MessageDocument("Ann", "ann@example.com", "Bob,555,bob@example.com", "Hello");
  EXPECT_EQ(
      SendAsStudio(mta.host(), "drop@greetings.test", folder + "/studio", "A greeting", document),
      "")
      << "the mail server takes the mail at once";
  EXPECT_TRUE(WaitFor([&] { return mta.Log().find("status=deferred") != std::string::npos; },
                      std::chrono::seconds(30)))
      << mta.Log();
  EXPECT_EQ(relay.Count(), 0);
  EXPECT_EQ(mta.Queued(), 1);

  GiveToTheUnprivilegedUser(data + "/media");
  mta.Flush();
  EXPECT_TRUE(relay.WaitForMail(2, std::chrono::seconds(60))) << mta.Log();
  EXPECT_TRUE(WaitFor([&] { return mta.Queued() == 0; }, std::chrono::seconds(10)));

  // A mail that can never be a greeting goes back with the reason, and is kept for the owner.
  EXPECT_EQ(
      SendAsStudio(mta.host(), "drop@greetings.test", folder + "/studio", "Hello", "just words"),
      "");
  EXPECT_TRUE(
      WaitFor([&] { return mta.Log().find("neither a message document") != std::string::npos; },
              std::chrono::seconds(30)))
      << mta.Log();
  EXPECT_NE(mta.Log().find("status=bounced"), std::string::npos);
  service::Greetings greetings(service::OpenSql(url, ""));
  EXPECT_EQ(greetings.Quarantined().size(), 1u);
  EXPECT_EQ(greetings.OfSite(1).size(), 1u) << "one greeting, taken once";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace moviletta::testing
