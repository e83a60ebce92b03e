// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting service behind a real mail server, as a site owner runs it: Postfix takes the
// studio's mail for the mail drop and hands it to `moviletta-deliver`; what cannot be taken yet
// stays in Postfix's queue until it can, what can never be a greeting goes back with the reason;
// and greetings sent one after another all arrive once through killed nodes, a database away and
// a full disk.
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "service/store/greetings.h"
#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/mail_server.h"
#include "tests/fixtures/postgres_server.h"
#include "tests/fixtures/small_disk.h"
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
// the test has one of its own to stop), nodes relaying to a mail drop, and Postfix handing the
// studio's mail to `moviletta-deliver`; the nodes run as Postfix's pipe user, so that its
// `moviletta-deliver` hands the mails to them.
class MailServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "Postfix's master runs as root";
    fs::create_directories(data);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::others_exec);
    GiveToTheUnprivilegedUser(data);
  }
  ~MailServerTest() override { fs::remove_all(folder); }

  // Starts a node with `options` besides the database and the relay.
  void StartNode(std::size_t at, const std::vector<std::string>& options = {}) {
    std::vector<std::string> all = {"--database", url, "--relay", "smtp://" + relay.host()};
    all.insert(all.end(), options.begin(), options.end());
    nodes.resize(std::max(nodes.size(), at + 1));
    nodes[at].reset();
    nodes[at] = std::make_unique<GreetingsProcess>(data, all, true);
    ASSERT_GT(nodes[at]->port, 0);
  }

  // Starts `count` nodes with `options`, and Postfix, on the database at `url`.
  void Start(const std::string& database_url, int count = 1,
             const std::vector<std::string>& options = {}) {
    url = database_url;
    ASSERT_EQ(RunGreetings({"migrate", "--data", data, "--database", url}).status, 0);
    for (int n = 0; n < count; ++n) StartNode(static_cast<std::size_t>(n), options);
    mta = std::make_unique<MailServer>(std::vector<std::string>{MOVILETTA_DELIVER_BINARY, "--data",
                                                                data, "--database", url,
                                                                "--recipient", "${recipient}"});
    ASSERT_TRUE(mta->started()) << mta->Log();
  }

  // How many times Postfix has put a mail back in its queue.
  int Deferred() const {
    const std::string log = mta->Log();
    int deferred = 0;
    for (auto at = log.find("status=deferred"); at != std::string::npos;
         at = log.find("status=deferred", at + 1))
      ++deferred;
    return deferred;
  }

  const std::string folder =
      (fs::temp_directory_path() / ("moviletta-mta-test-" + std::to_string(::getpid()))).string();
  const std::string data = folder + "/data";
  std::string url;
  MailDrop relay;
  std::vector<std::unique_ptr<GreetingsProcess>> nodes;
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
  EXPECT_TRUE(WaitFor([&] { return Deferred() >= 3; }, std::chrono::seconds(60))) << mta->Log();
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

// The studio's greetings one after another while both nodes are killed in the middle of a
// conversion, the database is away for 10 s and the media folder is full: each greeting handed to
// the mail server ends on its watch page and in its recipients' mail; a mail sent twice would
// carry the same Message-ID.
TEST_F(MailServerTest, GreetingsThroughKilledNodesTheDatabaseAwayAndAFullDiskAllArriveOnce) {
  const std::string media = data + "/media";
  SmallDisk disk(media, "size=32m,mode=0700,uid=65534,gid=65534");
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs may be mounted here";
  PostgresServer database;
  const std::vector<std::string> lease = {"--lease", "3", "--site", "greetings.test"};
  Start(database.NewDatabase(), 2, lease);
  MakeGreetingFiles(folder + "/studio", 3);
  int sent = 0;
  const auto send = [&](int count) {
    for (int n = 0; n < count; ++n, ++sent)
      ASSERT_EQ(SendAsStudio(mta->host(), "drop@greetings.test", folder + "/studio", "A greeting",
                             MessageDocument("Ann", "ann@example.com", "Bob,,bob@example.com",
                                             "greeting " + std::to_string(sent))),
                "");
  };
  // Every greeting sent is kept and its recipients' mails recorded as accepted by the relay (a
  // mail job cut off by a fault sends its mails again later, so the relay's count tells less).
  const auto all_mailed = [&] {
    return WaitFor(
        [&] {
          try {
            service::Greetings greetings(service::OpenSql(url, ""));
            const std::vector<service::Greeting> kept = greetings.OfSite(1);
            return kept.size() == static_cast<std::size_t>(sent) &&
                   std::ranges::all_of(kept, [](const auto& g) { return g.state == "mailed"; });
          } catch (const std::exception&) {
            return false;  // the database away
          }
        },
        std::chrono::seconds(90));
  };

  // Both nodes killed while a video is being made; new nodes take the job over after its lease.
  send(2);
  ASSERT_TRUE(ConversionStarts(data, std::chrono::milliseconds(30000))) << mta->Log();
  for (auto& node : nodes) node->Signal(SIGKILL);
  StartNode(0, lease);
  StartNode(1, lease);
  ASSERT_TRUE(all_mailed()) << mta->Log();

  // The database away for 10 s: the mails wait in the mail server's queue.
  const auto away = std::chrono::steady_clock::now();
  int deferred = Deferred();
  database.Stop();
  send(2);
  EXPECT_TRUE(WaitFor([&] { return Deferred() >= deferred + 2; }, std::chrono::seconds(60)));
  std::this_thread::sleep_until(away + std::chrono::seconds(10));
  database.Resume();
  mta->Flush();
  ASSERT_TRUE(all_mailed()) << mta->Log();

  // The media folder full: the mails wait too, and nothing half written stays.
  const std::string filler = media + "/filler";
  {
    std::ofstream fill(filler, std::ios::binary);
    const std::string megabyte(1 << 20, '\0');
    while (fill.write(megabyte.data(), megabyte.size())) {
    }
  }
  deferred = Deferred();
  send(2);
  EXPECT_TRUE(WaitFor([&] { return Deferred() >= deferred + 2; }, std::chrono::seconds(60)));
  for (const auto& entry : fs::directory_iterator(media))
    EXPECT_NE(entry.path().filename().string()[0], '.') << "half written: " << entry.path();
  fs::remove(filler);
  mta->Flush();
  ASSERT_TRUE(all_mailed()) << mta->Log();

  std::set<std::string> message_ids;
  for (int n = 1; n <= relay.Count(); ++n) {
    const std::string mail =
        MailDrop::Read(*relay.WaitForMail(n, std::chrono::seconds(1)) + ".eml");
    std::smatch id;
    ASSERT_TRUE(
        std::regex_search(mail, id, std::regex("\nMessage-ID: *([^\r\n]+)", std::regex::icase)));
    message_ids.insert(id[1]);
  }
  EXPECT_EQ(message_ids.size(), static_cast<std::size_t>(2 * sent))
      << "each recipient's mail, twice only as the same mail";
  service::Greetings greetings(service::OpenSql(url, ""));
  const std::vector<service::Greeting> kept = greetings.OfSite(1);
  EXPECT_EQ(kept.size(), static_cast<std::size_t>(sent));
  httplib::Client node("127.0.0.1", nodes[0]->port);
  for (const service::Greeting& g : kept) {
    const auto page = node.Get("/watch/" + g.token);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(node.Get("/watch/" + g.token + "/video.mp4")->status, 200) << g.token;
  }
}

}  // namespace
}  // namespace moviletta::testing
