// The greeting service as several nodes on one PostgreSQL, and its faults: nodes that race for
// the same jobs, a node killed in the middle of a conversion, a node stopped with SIGTERM, the
// media folder full, and the health of a node.
#include <httplib.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "moviletta/common/error.h"
#include "service/intake/intake.h"
#include "service/jobs/worker.h"
#include "service/store/postgres_store.h"
#include "service/web/secrets.h"
#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/postgres_server.h"
#include "tests/fixtures/small_disk.h"
#include "tests/fixtures/studio_mails.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A relay shared by the nodes of a test: it takes every mail and counts them by Message-ID.
class CountingRelay : public service::Relay {
 public:
  void Send(const service::OutgoingMail& mail) override {
    std::lock_guard lock(mutex);
    ++sent[mail.message_id];
  }
  int Total() {
    std::lock_guard lock(mutex);
    int total = 0;
    for (const auto& [id, count] : sent) total += count;
    return total;
  }
  std::mutex mutex;
  std::map<std::string, int> sent;
};

class ServiceNodesTest : public ::testing::Test {
 protected:
  ServiceNodesTest() {
    service::InitSecrets();
    fs::create_directories(data_);
    MakeGreetingFiles(folder_ + "/studio", 1);
    mail_ = StudioMail(folder_ + "/studio", "A greeting",
                       MessageDocument("Ann", "ann@example.com", "Bob,,bob@example.com", "Hi"));
  }
  ~ServiceNodesTest() override { fs::remove_all(folder_); }

  // The studio's mail as greeting number `n`: a Message-ID of its own, in a file.
  std::string MailFile(int n) const {
    return WriteAsAnotherMail(mail_, std::to_string(n),
                              folder_ + "/mail-" + std::to_string(n) + ".eml");
  }

  std::string folder_ =
      (fs::temp_directory_path() / ("moviletta-nodes-" + std::to_string(::getpid()))).string();
  std::string data_ = folder_ + "/data";
  std::string mail_;
};

// Two nodes race for the jobs of 50 greetings: each job is done once, every recipient gets one
// mail, and both nodes did some of the work.
TEST_F(ServiceNodesTest, TwoNodesRacingForFiftyGreetingsDoEachJobOnce) {
  const std::string url = PostgresServer::Shared().NewDatabase();
  service::PostgresStore store(url);
  store.Migrate();
  store.AddSite("greetings.test");
  service::Greetings intake_records(service::OpenSql(url, ""));
  const service::Clock clock = [] { return std::chrono::system_clock::now(); };
  service::Intake intake(intake_records, data_, clock);
  for (int n = 0; n < 50; ++n) {
    std::ifstream in(MailFile(n), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    ASSERT_EQ(intake.Deliver(bytes.str(), "").status, 0);
  }
  CountingRelay relay;
  service::Greetings records_a(service::OpenSql(url, "")), records_b(service::OpenSql(url, ""));
  service::PostgresStore store_a(url), store_b(url);
  service::Worker a(store_a, records_a, relay, data_, clock,
                    {.threads = 2, .idle = 20ms, .name = "node-a"});
  service::Worker b(store_b, records_b, relay, data_, clock,
                    {.threads = 2, .idle = 20ms, .name = "node-b"});
  a.Start();
  b.Start();
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (relay.Total() < 100 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(500ms);  // a job done twice would mail again by now
  a.Stop();
  b.Stop();
  EXPECT_EQ(relay.sent.size(), 100u) << "Bob and Ann's copy for each of 50 greetings";
  for (const auto& [id, count] : relay.sent) EXPECT_EQ(count, 1) << id;
  int done = 0;
  std::set<std::string> workers;
  for (const service::JobCount& count : intake_records.JobCounts())
    if (count.state == "done") done += static_cast<int>(count.count);
  EXPECT_EQ(done, 100) << "50 conversions and 50 mail jobs";
  for (const auto& row : service::OpenSql(url, "")->Query("SELECT DISTINCT worker FROM jobs"))
    if (row[0]) workers.insert(*row[0]);
  EXPECT_EQ(workers, (std::set<std::string>{"node-a", "node-b"})) << "both nodes worked";
  const std::vector<service::Node> nodes = intake_records.Nodes();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].jobs_done + nodes[1].jobs_done, 100) << "as the nodes told";
}

// A node killed with SIGKILL in the middle of a conversion: another node finishes the job once
// the lease has run out, and the recipients get their mails. A node stopped with SIGTERM ends
// within its drain and gives its job back, which another node takes at once.
TEST_F(ServiceNodesTest, AKilledNodesJobIsTakenOverAndAStoppedNodeGivesItsJobBack) {
  MakeGreetingFiles(folder_ + "/long", 30);
  const std::string long_mail =
      StudioMail(folder_ + "/long", "A greeting",
                 MessageDocument("Ann", "ann@example.com", "Bob,,bob@example.com", "Hi"));
  std::ofstream(folder_ + "/long.eml", std::ios::binary) << long_mail;
  const std::string url = PostgresServer::Shared().NewDatabase();
  ASSERT_EQ(RunGreetings({"migrate", "--data", data_, "--database", url}).status, 0);
  MailDrop relay;
  const std::vector<std::string> common{"--database",     url,       "--site",
                                        "greetings.test", "--relay", "smtp://" + relay.host()};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), common.begin(), common.end());
    return more;
  };
  {
    GreetingsProcess first(data_, with({"--lease", "3"}));
    ASSERT_GT(first.port, 0);
    ASSERT_EQ(DeliverFile(data_, folder_ + "/long.eml", {"--database", url}), 0);
    ASSERT_TRUE(ConversionStarts(data_, 10s));
    first.Signal(SIGKILL);
  }
  const auto killed = std::chrono::steady_clock::now();
  {
    GreetingsProcess second(data_, with({"--lease", "3"}));
    ASSERT_TRUE(relay.WaitForMail(2, 60s)) << "Bob's mail and Ann's copy";
    EXPECT_GT(std::chrono::steady_clock::now() - killed, 2s) << "not before the lease ran out";
  }
  WriteAsAnotherMail(long_mail, "third", folder_ + "/third.eml");
  GreetingsProcess stopping(data_, with({"--drain", "0"}));
  ASSERT_EQ(DeliverFile(data_, folder_ + "/third.eml", {"--database", url}), 0);
  ASSERT_TRUE(ConversionStarts(data_, 10s));
  stopping.Signal(SIGTERM);
  EXPECT_EQ(stopping.EndsWithin(3s), 0) << "it drains within its drain and ends";
  GreetingsProcess next(data_, common);  // a lease of 10 minutes: only a job given back goes on
  EXPECT_TRUE(relay.WaitForMail(4, 60s)) << "the job given back was taken at once";
  EXPECT_EQ(relay.Count(), 4);
}

// PostgreSQL stopped for 10 s and started again: meanwhile intake answers 75 (the mail server
// keeps the mail) and the node is not ready; afterwards the mail is taken and every greeting
// reaches its recipients, none twice.
TEST_F(ServiceNodesTest, TheDatabaseAwayForTenSecondsLosesNothing) {
  PostgresServer database;
  const std::string url = database.NewDatabase();
  MailDrop relay;
  GreetingsProcess node(
      data_, {"--database", url, "--site", "greetings.test", "--relay", "smtp://" + relay.host()});
  ASSERT_GT(node.port, 0);
  ASSERT_EQ(DeliverFile(data_, MailFile(1), {"--database", url}), 0);
  ASSERT_TRUE(relay.WaitForMail(2, 60s));
  httplib::Client client("127.0.0.1", node.port);

  database.Stop();
  EXPECT_EQ(DeliverFile(data_, MailFile(2), {"--database", url}), 75);
  EXPECT_EQ(client.Get("/readyz")->status, 503);
  std::this_thread::sleep_for(10s);
  database.Resume();
  EXPECT_EQ(DeliverFile(data_, MailFile(2), {"--database", url}), 0) << "the mail server's retry";
  EXPECT_TRUE(relay.WaitForMail(4, 60s));
  EXPECT_EQ(client.Get("/readyz")->status, 200);
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(relay.Count(), 4) << "none twice";
}

// A node is healthy while it runs, and ready while its database and media folder can be used.
TEST_F(ServiceNodesTest, ANodeSaysWhetherItIsReady) {
  GreetingsProcess node(data_, {"--no-work"});
  ASSERT_GT(node.port, 0);
  httplib::Client client("127.0.0.1", node.port);
  EXPECT_EQ(client.Get("/healthz")->status, 200);
  EXPECT_EQ(client.Get("/readyz")->status, 200);
  fs::remove_all(data_ + "/media");
  std::ofstream(data_ + "/media") << "not a folder";
  const auto not_ready = client.Get("/readyz");
  EXPECT_EQ(not_ready->status, 503);
  EXPECT_NE(not_ready->body.find("not ready"), std::string::npos);
  EXPECT_EQ(client.Get("/healthz")->status, 200) << "the process still answers";
  fs::remove(data_ + "/media");
  EXPECT_EQ(client.Get("/readyz")->status, 200);
}

// The media folder full: intake answers 75 (the mail server keeps the mail), leaves nothing half
// written, and takes the mail once room is made.
TEST_F(ServiceNodesTest, AFullMediaFolderIsAPassingFailure) {
  const std::string media = data_ + "/media";
  SmallDisk disk(media, "size=16k,mode=0700");
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs may be mounted here";
  ASSERT_EQ(
      RunGreetings({"settings", "--data", data_, "--site", "greetings.test", "FPS=15"}).status, 0);
  const std::string mail = MailFile(7);
  EXPECT_EQ(DeliverFile(data_, mail), 75);
  EXPECT_TRUE(fs::is_empty(media)) << "nothing half written stays";
  ASSERT_TRUE(disk.Remount("size=16m,mode=0700"));
  EXPECT_EQ(DeliverFile(data_, mail), 0) << "room made: taken";
  EXPECT_EQ(DeliverFile(data_, mail), 0) << "and once only";
  int greetings = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(media)) ++greetings;
  EXPECT_EQ(greetings, 1);
}

}  // namespace
}  // namespace moviletta::testing
