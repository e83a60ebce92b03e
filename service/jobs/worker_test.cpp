// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/jobs/worker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "moviletta/common/error.h"
#include "service/intake/intake.h"
#include "service/store/sqlite_store.h"
#include "service/web/secrets.h"
#include "tests/fixtures/studio_mails.h"

namespace moviletta::service {
namespace {

namespace fs = std::filesystem;

// A relay that answers as `answers` says, one answer a mail (true: taken, false: refused), and
// takes every mail once they are used up.
class RecordingRelay : public Relay {
 public:
  void Send(const OutgoingMail& mail) override {
    const bool take = answers.empty() || answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    if (!take) throw Error(75, "the relay is busy", "test");
    sent.push_back(mail);
  }
  std::vector<bool> answers;
  std::vector<OutgoingMail> sent;
};

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() {
    InitSecrets();
    fs::create_directories(data_);
    store_.Migrate();
    store_.AddSite("greetings.example.com");
    testing::MakeGreetingFiles(data_ + "/studio", 1);
  }
  ~WorkerTest() override { fs::remove_all(data_); }

  int64_t Deliver(const std::string& recipients) {
    const std::string mail =
        testing::StudioMail(data_ + "/studio", "A greeting",
                            testing::MessageDocument("Ann", "ann@example.com", recipients, "Hi"));
    const IntakeOutcome taken = intake_.Deliver(mail, "");
    EXPECT_EQ(taken.status, 0) << taken.reason;
    return taken.greeting;
  }

  std::string data_ =
      (fs::temp_directory_path() / ("moviletta-worker-" + std::to_string(::getpid()))).string();
  Time now_ = Time(std::chrono::hours(490000));
  Clock clock_ = [this] { return now_; };
  SqliteStore store_{(fs::create_directories(data_), data_ + "/greetings.sqlite3")};
  Greetings greetings_{OpenSql("", data_ + "/greetings.sqlite3")};
  Intake intake_{greetings_, data_, clock_};
  RecordingRelay relay_;
  Worker worker_{store_, greetings_, relay_,
                 data_,  clock_,     WorkerOptions{.sms_gateway = "{number}@sms.example.com"}};
};

// A relay that refuses is tried again after the wait, and no recipient it had taken before gets
// a second mail; a mobile number gets a text through the gateway, someone with neither is listed
// as not reachable.
TEST_F(WorkerTest, ARefusingRelayIsTriedAgainWithoutASecondMail) {
  store_.SetSettings(*store_.SiteOf("greetings.example.com"),
                     {{"SMSGATEWAY", "{number}@texts.example.org"}});  // the site's own first
  const int64_t id = Deliver("Bob,,bob@example.com;Cy,+1 (555) 010,;Di,,");
  relay_.answers = {true, false};  // Bob's taken, Cy's text refused
  EXPECT_EQ(worker_.RunDue(), 2) << "the video, then the mails until the refusal";
  ASSERT_EQ(relay_.sent.size(), 1u);
  EXPECT_EQ(greetings_.ById(id)->state, "ready");
  now_ += std::chrono::seconds(5);
  EXPECT_EQ(worker_.RunDue(), 0) << "not before its wait";
  now_ += std::chrono::seconds(6);
  EXPECT_EQ(worker_.RunDue(), 1);
  ASSERT_EQ(relay_.sent.size(), 3u);
  EXPECT_EQ(relay_.sent[0].to_address, "bob@example.com");
  EXPECT_EQ(relay_.sent[1].to_address, "+1555010@texts.example.org");
  EXPECT_NE(relay_.sent[1].text.find("/watch/"), std::string::npos);
  EXPECT_EQ(relay_.sent[2].to_address, "ann@example.com") << "the sender's copy";
  EXPECT_NE(relay_.sent[2].text.find("/watch/delete/"), std::string::npos);
  EXPECT_NE(relay_.sent[0].message_id, relay_.sent[2].message_id);
  const Greeting g = *greetings_.ById(id);
  EXPECT_EQ(g.state, "mailed");
  EXPECT_EQ(g.recipients[2].state, "unreachable");
  EXPECT_TRUE(fs::exists(data_ + "/media/" + g.token + "/web.mp4"));
}

// A greeting kept longer than the site keeps them (90 days, or its own KEEPDAYS) loses its files
// and personal data.
TEST_F(WorkerTest, TheSweepDeletesWhatIsKeptTooLong) {
  const int64_t id = Deliver("Bob,,bob@example.com");
  worker_.RunDue();
  EXPECT_EQ(worker_.Sweep(), 0);
  now_ += std::chrono::hours(24 * 89);
  EXPECT_EQ(worker_.Sweep(), 0);
  now_ += std::chrono::hours(24 * 2);
  EXPECT_EQ(worker_.Sweep(), 1);
  const Greeting g = *greetings_.ById(id);
  EXPECT_EQ(g.state, "deleted");
  EXPECT_EQ(g.sender_name, "");
  EXPECT_FALSE(fs::exists(data_ + "/media/" + g.token));

  store_.SetSettings(*store_.SiteOf("greetings.example.com"), {{"KEEPDAYS", "5"}});
  Deliver("Cy,,cy@example.com");
  now_ += std::chrono::hours(24 * 4);
  EXPECT_EQ(worker_.Sweep(), 0);
  now_ += std::chrono::hours(24 * 2);
  EXPECT_EQ(worker_.Sweep(), 1);
}

}  // namespace
}  // namespace moviletta::service
