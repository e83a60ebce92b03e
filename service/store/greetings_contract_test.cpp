// SPDX-License-Identifier: GPL-3.0-or-later
// The greetings' records behave the same on both engines.
#include <gtest/gtest.h>

#include "moviletta/common/error.h"
#include "service/store/greetings.h"
#include "service/store/store_contract_test.h"
#include "service/store/store_errors.h"

namespace moviletta::service {
namespace {

using std::chrono::seconds;
const Time kNoon = Time(std::chrono::hours(490000));

Greeting Sample(int64_t site, const std::string& key) {
  Greeting g;
  g.site = site;
  g.mail_key = key;
  g.kind = "greeting";
  g.token = "t" + key, g.delete_token = "d" + key;
  g.sender_name = "Ann", g.sender_email = "ann@example.com", g.message = "Hi";
  g.taken_at = kNoon;
  g.seconds_ms = 3000;
  g.recipients = {{0, "recipient", "Bob", "555", "bob@example.com", "waiting"},
                  {0, "sender", "Ann", "", "ann@example.com", "waiting"}};
  return g;
}

// One greeting per mail, its jobs each taken by one worker at a time: a lease that runs out is
// taken over, a failure waits its turn, a second notice job of a kind is not made.
TEST_P(StoreContractTest, GreetingsAreKeptOnceAndTheirJobsTakenOneWorkerAtATime) {
  Greetings greetings(OpenSql(url_, ""));
  const int64_t site = store_->AddSite("greetings.example.com");
  bool kept_now = false;
  const int64_t id = greetings.Take(Sample(site, "a"), &kept_now);
  EXPECT_TRUE(kept_now);
  EXPECT_EQ(greetings.Take(Sample(site, "a"), &kept_now), id) << "the same mail again";
  EXPECT_FALSE(kept_now) << "is not kept again";
  ASSERT_EQ(greetings.OfSite(site).size(), 1u);
  const std::optional<Greeting> kept = greetings.ByToken("ta");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->recipients.size(), 2u);
  EXPECT_EQ(kept->recipients[1].role, "sender");

  const std::optional<Job> first = greetings.ClaimJob("one", kNoon, seconds(60));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->kind, "convert");
  EXPECT_FALSE(greetings.ClaimJob("two", kNoon + seconds(30), seconds(60))) << "held by one";
  const std::optional<Job> taken_over = greetings.ClaimJob("two", kNoon + seconds(61), seconds(60));
  ASSERT_TRUE(taken_over) << "the lease ran out";
  EXPECT_EQ(taken_over->id, first->id);
  greetings.JobFailed(first->id, "relay down", kNoon + seconds(200));
  EXPECT_FALSE(greetings.ClaimJob("one", kNoon + seconds(199), seconds(60)));
  const std::optional<Job> again = greetings.ClaimJob("one", kNoon + seconds(200), seconds(60));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->attempts, 1);
  greetings.JobDone(again->id);
  EXPECT_FALSE(greetings.ClaimJob("one", kNoon + seconds(900), seconds(60)));

  EXPECT_TRUE(greetings.Watched(id, kNoon + seconds(300)));
  EXPECT_FALSE(greetings.Watched(id, kNoon + seconds(301))) << "told once";
  greetings.AddJob(id, "watched", kNoon);
  greetings.AddJob(id, "watched", kNoon);
  int watched = 0;
  for (const JobCount& count : greetings.JobCounts())
    if (count.kind == "watched") watched += static_cast<int>(count.count);
  EXPECT_EQ(watched, 1);
}

// The sweep runs on one node at a time: another node's turn is skipped while one sweeps, and
// the turn is free again once that sweep ends, also by a failure.
TEST_P(StoreContractTest, OneNodeSweepsAtATime) {
  Greetings one(OpenSql(url_, "")), two(OpenSql(url_, ""));
  bool both = false;
  EXPECT_TRUE(one.SweepAlone([&] { EXPECT_FALSE(two.SweepAlone([&] { both = true; })); }));
  EXPECT_FALSE(both) << "two nodes swept at once";
  EXPECT_THROW(two.SweepAlone([] { throw Error(kErrDatabase, "gone"); }), Error);
  int turns = 0;
  EXPECT_TRUE(one.SweepAlone([&] { ++turns; }));
  EXPECT_TRUE(two.SweepAlone([&] { ++turns; }));
  EXPECT_EQ(turns, 2);
}

// Reports hide a greeting at the limit; forgetting it keeps no personal data.
TEST_P(StoreContractTest, AReportedGreetingIsHiddenAndAForgottenOneKeepsNothingPersonal) {
  Greetings greetings(OpenSql(url_, ""));
  const int64_t site = store_->AddSite("greetings.example.com");
  const int64_t id = greetings.Take(Sample(site, "b"));
  const int64_t reply = greetings.AddReply(id, kNoon, "Thanks");
  EXPECT_EQ(greetings.ReplyOf(id, reply)->text, "Thanks");
  EXPECT_EQ(greetings.Report(id, 3), 1);
  EXPECT_FALSE(greetings.ById(id)->hidden);
  greetings.Report(id, 3);
  EXPECT_EQ(greetings.Report(id, 3), 3);
  EXPECT_TRUE(greetings.ById(id)->hidden);

  EXPECT_EQ(greetings.Expired(site, kNoon + seconds(1)), std::vector<int64_t>{id});
  greetings.Forget(id, kNoon + seconds(1));
  const Greeting gone = *greetings.ById(id);
  EXPECT_EQ(gone.state, "deleted");
  EXPECT_EQ(gone.sender_name + gone.sender_email + gone.message, "");
  for (const Recipient& r : gone.recipients) EXPECT_EQ(r.name + r.cell + r.email, "");
  EXPECT_FALSE(greetings.ReplyOf(id, reply));
  EXPECT_TRUE(greetings.Expired(site, kNoon + seconds(2)).empty());
  greetings.SetState(id, "mailed");
  EXPECT_EQ(greetings.ById(id)->state, "deleted") << "a late job does not bring it back";
}

}  // namespace
}  // namespace moviletta::service
