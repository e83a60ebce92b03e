// SPDX-License-Identifier: GPL-3.0-or-later
// The store's contract, the same for each engine: every engine the service can run on passes
// these tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "moviletta/common/error.h"
#include "service/store/store_contract_test.h"
#include "service/store/store_errors.h"

namespace moviletta::service {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;

const Time kNoon = Time(std::chrono::hours(24 * 20000 + 12));  // 2024-10-04 12:00 UTC

TEST_P(StoreContractTest, MigratesOnceAndKnowsEachSiteByItsHost) {
  EXPECT_EQ(store_->Migrate(), 3) << "applied again, nothing changes";
  EXPECT_EQ(store_->SiteOf("a.example"), std::nullopt);
  const int64_t a = store_->AddSite("a.example");
  const int64_t b = store_->AddSite("b.example:8080");
  EXPECT_NE(a, b);
  EXPECT_EQ(store_->AddSite("a.example"), a) << "the same host is the same site";
  EXPECT_EQ(store_->SiteOf("b.example:8080"), b);
  EXPECT_EQ(store_->SiteOf("b.example"), std::nullopt) << "a host and its port name a site";
  EXPECT_EQ(store_->Sites(), (std::vector<std::string>{"a.example", "b.example:8080"}));
}

TEST_P(StoreContractTest, EachSiteHasItsOwnSettings) {
  const int64_t a = store_->AddSite("a.example"), b = store_->AddSite("b.example");
  store_->SetSettings(a, {{"FPS", "15"}, {"SMTPPWD", "a's secret"}});
  store_->SetSettings(a, {{"FPS", "25"}});
  store_->SetSettings(b, {{"SENDTO", "drop@b.example"}});
  EXPECT_EQ(store_->Settings(a),
            (std::map<std::string, std::string>{{"FPS", "25"}, {"SMTPPWD", "a's secret"}}));
  EXPECT_EQ(store_->Settings(b),
            (std::map<std::string, std::string>{{"SENDTO", "drop@b.example"}}));
}

TEST_P(StoreContractTest, SkinsKeepTheirPicturesAndTheirOrder) {
  const int64_t a = store_->AddSite("a.example"), b = store_->AddSite("b.example");
  const std::string binary("GIF89a\0\xff\x01", 9);
  store_->PutSkin(a, {42, "Star", "SKIN"}, {binary, "frame 2"});
  store_->PutSkin(a, {7, "Frame", "STATIC"}, {"static"});
  store_->PutSkin(a, {-3, "Odd", "STATIC"}, {"odd"});
  EXPECT_EQ(store_->SkinPicture(a, 42, 1), binary) << "bytes as given, zeros included";
  EXPECT_EQ(store_->SkinPicture(a, 42, 2), "frame 2");
  EXPECT_EQ(store_->SkinPicture(a, 42, 3), std::nullopt);
  EXPECT_EQ(store_->SkinPicture(b, 42, 1), std::nullopt) << "another site's skin";
  EXPECT_EQ(store_->SkinOf(a, 42), (Skin{42, "Star", "SKIN", 2, 0}));
  EXPECT_EQ(store_->SkinOf(b, 42), std::nullopt);

  store_->MoveSkin(a, -3, 0);
  std::vector<int32_t> order;
  for (const Skin& skin : store_->Skins(a)) order.push_back(skin.id);
  EXPECT_EQ(order, (std::vector<int32_t>{-3, 42, 7}));

  // Replaced in its place, with only its new pictures; removed with its pictures.
  store_->PutSkin(a, {42, "Star again", "SKIN"}, {"only"});
  EXPECT_EQ(store_->SkinOf(a, 42), (Skin{42, "Star again", "SKIN", 1, 1}));
  EXPECT_EQ(store_->SkinPicture(a, 42, 2), std::nullopt);
  EXPECT_TRUE(store_->RemoveSkin(a, 42));
  EXPECT_FALSE(store_->RemoveSkin(a, 42));
  EXPECT_EQ(store_->SkinPicture(a, 42, 1), std::nullopt);
  EXPECT_EQ(store_->Skins(a).size(), 2u);
}

TEST_P(StoreContractTest, ReportsAreKeptNewestFirstWithinTheirLimit) {
  const int64_t a = store_->AddSite("a.example"), b = store_->AddSite("b.example");
  const auto report = [](Time at, const std::string& installation, const std::string& function) {
    return ErrorReport{at,        installation,
                       "1.6",     function,
                       "section", "-2147221504",
                       "desc",    "src",
                       "0",       "sErrCode=-2147221504\n"};
  };
  EXPECT_TRUE(store_->AddReport(a, report(kNoon, "one", "LoadSkin"), 2));
  EXPECT_TRUE(store_->AddReport(a, report(kNoon + seconds(10), "one", "RecordVideo"), 2));
  EXPECT_FALSE(store_->AddReport(a, report(kNoon + seconds(20), "one", "LoadSkin"), 2))
      << "a third in the same minute";
  EXPECT_TRUE(store_->AddReport(a, report(kNoon + seconds(20), "two", "LoadSkin"), 2))
      << "another installation";
  EXPECT_TRUE(store_->AddReport(a, report(kNoon + minutes(1) + seconds(5), "one", "LoadSkin"), 2))
      << "a minute later";
  EXPECT_TRUE(store_->AddReport(a, report(kNoon + std::chrono::hours(24), "one", "Wait"), 2));
  EXPECT_TRUE(store_->AddReport(b, report(kNoon, "one", "LoadSkin"), 2));
  EXPECT_EQ(store_->Refused(a), 1);
  EXPECT_EQ(store_->Refused(b), 0);

  const std::vector<ErrorReport> all = store_->Reports(a, {});
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].function, "Wait");
  EXPECT_EQ(all[0].at, kNoon + std::chrono::hours(24));
  EXPECT_EQ(all[4].function, "LoadSkin");
  EXPECT_EQ(all[4].code, "-2147221504");
  EXPECT_EQ(all[4].query, "sErrCode=-2147221504\n");
  EXPECT_EQ(store_->Reports(a, {"two", "", "", 200}).size(), 1u);
  EXPECT_EQ(store_->Reports(a, {"one", "LoadSkin", "", 200}).size(), 2u);
  EXPECT_EQ(store_->Reports(a, {"", "", "2024-10-05", 200}).size(), 1u);
  EXPECT_EQ(store_->Reports(a, {"", "", "", 2}).size(), 2u);
  EXPECT_EQ(store_->ReportsPerDay(a),
            (std::vector<std::pair<std::string, int64_t>>{{"2024-10-05", 1}, {"2024-10-04", 4}}));
}

TEST_P(StoreContractTest, RegistrationsCountAnnouncementsWithinTheirLimit) {
  const int64_t a = store_->AddSite("a.example");
  EXPECT_TRUE(store_->Register(a, "one", "1.5", kNoon, 2));
  EXPECT_TRUE(store_->Register(a, "one", "1.6", kNoon + seconds(30), 2));
  EXPECT_FALSE(store_->Register(a, "one", "1.6", kNoon + seconds(40), 2));
  EXPECT_TRUE(store_->Register(a, "one", "1.6", kNoon + minutes(2), 2));
  EXPECT_TRUE(store_->Register(a, "two", "1.6", kNoon + minutes(1), 2));
  const std::vector<Registration> found = store_->Registrations(a);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].installation, "one");
  EXPECT_EQ(found[0].version, "1.6");
  EXPECT_EQ(found[0].first_seen, kNoon);
  EXPECT_EQ(found[0].last_seen, kNoon + minutes(2));
  EXPECT_EQ(found[0].announcements, 3);
  EXPECT_EQ(store_->Refused(a), 1);
}

TEST_P(StoreContractTest, AdministratorsAreLockedOutAndSessionsExpire) {
  store_->AddAdministrator("ann", "hash");
  try {
    store_->AddAdministrator("ann", "other");
    ADD_FAILURE() << "a second administrator of the same name";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrTaken);
  }
  EXPECT_EQ(store_->AdministratorOf("bob"), std::nullopt);
  for (int i = 0; i < 3; ++i) store_->SignInFailed("ann", kNoon, 3, minutes(15));
  std::optional<Administrator> ann = store_->AdministratorOf("ann");
  ASSERT_TRUE(ann);
  EXPECT_EQ(ann->failures, 3);
  EXPECT_EQ(ann->locked_until, kNoon + minutes(15));
  store_->SignInSucceeded("ann");
  ann = store_->AdministratorOf("ann");
  EXPECT_EQ(ann->failures, 0);
  EXPECT_EQ(ann->locked_until, std::nullopt);

  store_->AddSession("digest", {"ann", "csrf", kNoon + minutes(10)});
  ASSERT_TRUE(store_->SessionOf("digest", kNoon));
  EXPECT_EQ(store_->SessionOf("digest", kNoon)->csrf, "csrf");
  EXPECT_EQ(store_->SessionOf("other", kNoon), std::nullopt);
  EXPECT_EQ(store_->SessionOf("digest", kNoon + minutes(10)), std::nullopt) << "expired";
  EXPECT_EQ(store_->SessionOf("digest", kNoon), std::nullopt) << "and gone";
  store_->AddSession("again", {"ann", "csrf", kNoon + minutes(10)});
  store_->RemoveSession("again");
  EXPECT_EQ(store_->SessionOf("again", kNoon), std::nullopt);
}

// Many threads at once: every change is kept, none fails for a busy database.
TEST_P(StoreContractTest, ThreadsWriteAtOnce) {
  const int64_t a = store_->AddSite("a.example");
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i)
        store_->AddReport(
            a, {kNoon + seconds(i), "inst" + std::to_string(t), "1.6", "F", "", "", "", "", "", ""},
            1000);
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(store_->Reports(a, {"", "", "", 1000}).size(), 200u);
}

}  // namespace
}  // namespace moviletta::service
