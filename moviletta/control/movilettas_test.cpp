// SPDX-License-Identifier: GPL-3.0-or-later
// The status model, the properties and the life of the control in its host.
#include "moviletta/control/movilettas.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

using ::testing::ElementsAre;

class MovilettasTest : public ::testing::Test {
 protected:
  MovilettasTest() { server.SetSettings(SettingsDocument(server.address())); }

  void StartStopped() {
    ASSERT_EQ(harness.Start(), std::nullopt);
    harness.events.clear();
    server.ClearRequests();
  }
  std::vector<RecordedRequest> Reports() const { return server.RequestsTo("/clientErrLog.asp"); }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
};

TEST_F(MovilettasTest, AnAcceptedGuardClearsTheMessageEvenWhenNothingFollows) {
  StartStopped();
  EXPECT_EQ(harness.Call("PlayVideo").error, std::nullopt);
  EXPECT_THAT(harness.events, ElementsAre(SeenEvent{ControlEvent::ErrMsgChanged, 1, ""}))
      << "with no recording yet, PlayVideo only clears the (empty) message";
  EXPECT_TRUE(harness.player->calls.empty());
}

TEST_F(MovilettasTest, AFailingErrMsgChangedHandlerIsReportedWithTheMessage) {
  StartStopped();
  harness.host.on_event = [](ControlEvent) { throw Error(err::kInternal, "page handler broke"); };
  harness.site.Call("PlayVideo", MemberKind::kMethod, {});
  const RecordedRequest report = Reports().at(0);
  EXPECT_EQ(report.Query("sErrInFunction"), "SetErrMsg");
  EXPECT_EQ(report.Query("sErrInSection"), " sMsg: ");
  EXPECT_EQ(report.Query("sErrDesc"), "page handler broke");
}

TEST_F(MovilettasTest, MirorDrivesTheCaptureAndMarksThePropertyChanged) {
  StartStopped();
  harness.capture->calls.clear();
  harness.control().Miror(true);
  harness.control().Miror(false);
  EXPECT_THAT(harness.capture->calls, ElementsAre("MirrorMode=-1", "MirrorMode=-4"));
  EXPECT_THAT(harness.host.changed_properties, ElementsAre("Miror", "Miror"));
  EXPECT_FALSE(harness.control().Miror());

  harness.capture->fail_on = "MirrorMode";
  const CallOutcome outcome = harness.Call("Miror", {Variant(true)}, MemberKind::kPropertyPut);
  ASSERT_TRUE(outcome.error) << "a component failure goes to the caller";
  EXPECT_EQ(outcome.error->number(), err::kComponentFailed);
  EXPECT_TRUE(harness.control().Miror()) << "the flag was stored before the component failed";
  EXPECT_TRUE(Reports().empty());
}

TEST_F(MovilettasTest, SkinPathCannotBeReadAtRunTime) {
  StartStopped();
  const CallOutcome at_run_time = harness.Call("SkinPath", {}, MemberKind::kPropertyGet);
  ASSERT_TRUE(at_run_time.error);
  EXPECT_EQ(at_run_time.error->number(), 393);
  EXPECT_EQ(at_run_time.error->description(), "Get not supported at run time");
  harness.host.user_mode = false;
  EXPECT_EQ(harness.Call("SkinPath", {}, MemberKind::kPropertyGet).value, Variant("0"));
}

TEST_F(MovilettasTest, PersistedPropertiesLoadWithoutApplyingAndSaveAgainstDefaults) {
  harness.host.property_bag = {{"SkinPath", Variant("/opt/MovilettaStudio/SKINS/ml_skin_4/")},
                               {"Miror", Variant("True")}};
  ASSERT_EQ(harness.Start(/*new_instance=*/false), std::nullopt);
  harness.host.user_mode = false;
  EXPECT_EQ(harness.control().SkinPath(), "/opt/MovilettaStudio/SKINS/ml_skin_4/");
  EXPECT_TRUE(harness.control().Miror());
  EXPECT_THAT(harness.capture->calls, ::testing::Not(::testing::Contains("MirrorMode=-1")));

  struct Write {
    std::string name;
    Variant value, default_value;
    bool operator==(const Write&) const = default;
  };
  struct RecordingHost : HeadlessHost {
    std::vector<Write> writes;
    void WriteProperty(std::string_view n, const Variant& v, const Variant& d) override {
      writes.push_back({std::string(n), v, d});
    }
  } host;
  ModuleState module;
  const auto fresh = Movilettas::Create(
      host, host.queue(), module, FakeComponents(),
      {.server_address = server.address(), .app_directory = harness.app_directory});
  fresh->UserControl_InitProperties();
  fresh->UserControl_WriteProperties();
  EXPECT_THAT(host.writes, ElementsAre(Write{"SkinPath", Variant("0"), Variant("0")},
                                       Write{"Miror", Variant(false), Variant(0)}));
}

TEST_F(MovilettasTest, AnUnreadablePropertyIsReportedAndKeepsWhatWasRead) {
  harness.host.property_bag = {{"SkinPath", Variant(42)}, {"Miror", Variant("maybe")}};
  ASSERT_EQ(harness.Start(/*new_instance=*/false), std::nullopt);
  harness.host.user_mode = false;
  EXPECT_EQ(harness.control().SkinPath(), "42");
  EXPECT_FALSE(harness.control().Miror());
  const RecordedRequest report = Reports().at(0);
  EXPECT_EQ(report.Query("sErrInFunction"), "UserControl_ReadProperties");
  EXPECT_EQ(report.Query("sErrInSection"), "");
  EXPECT_EQ(report.Query("sErrCode"), "13");
}

TEST_F(MovilettasTest, ShutdownReleasesTheDeviceAndTheRunTimeSlots) {
  StartStopped();
  harness.capture->calls.clear();
  PictureSlots& img = harness.insides().img();
  for (int32_t i = 2; i <= 5; ++i) img.Create(i);
  harness.control().UserControl_Terminate();
  EXPECT_THAT(harness.capture->calls, ElementsAre("Preview=False", "Connected=False"));
  EXPECT_EQ(img.Count(), 2);
  EXPECT_NO_THROW(img.Room(0)) << "the surface's own slots stay";
  EXPECT_NO_THROW(img.Room(1));
  EXPECT_TRUE(Reports().empty());

  // Slots with a gap: the bound is taken once, so the missing index is a reported failure.
  img.Create(2), img.Create(4);
  harness.control().UserControl_Terminate();
  EXPECT_EQ(Reports().at(0).Query("sErrInFunction"), "UserControl_Terminate");
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), "340");

  harness.capture->fail_on = "Preview";
  harness.capture->calls.clear();
  harness.control().UserControl_Terminate();
  EXPECT_TRUE(harness.capture->calls.empty()) << "a failed step skips the later ones";
}

TEST_F(MovilettasTest, GetInstallationIdReportsAFailureWithAnEmptySection) {
  harness.volume_serial = []() -> std::optional<uint32_t> {
    throw Error(err::kPathFileAccess, "volume unreadable", "statvfs", 5);
  };
  // Start-up fails in the settings request's URL, which needs the identifier too.
  harness.Start();
  server.ClearRequests();
  EXPECT_EQ(harness.Call("GetInstallationID").value, Variant(""));
  const RecordedRequest report = Reports().at(0);
  EXPECT_EQ(report.Query("sErrInFunction"), "GetInstallationID");
  EXPECT_EQ(report.Query("sErrInSection"), "");
  EXPECT_EQ(report.Query("sErrSource"), "statvfs");
  EXPECT_EQ(report.Query("sAddInfo"), "5");
  EXPECT_EQ(report.Query("sInstallationID"), "-1") << "a report must not fail on the identity";
}

TEST_F(MovilettasTest, NotificationsAfterTheControlIsGoneAreDropped) {
  StartStopped();
  int delivered = 0;
  NotificationPoster poster = harness.insides().Notifications();
  std::thread worker([&] { poster.Post([&] { ++delivered; }); });
  worker.join();
  harness.host.ProcessPendingEvents(std::chrono::milliseconds(0));
  EXPECT_EQ(delivered, 1);

  std::thread late([&] {
    poster.Post([&] {
      ++delivered;
      harness.control().ClientStatus();  // would touch freed memory
    });
  });
  late.join();
  harness.site.Destroy();
  harness.host.ProcessPendingEvents(std::chrono::milliseconds(0));
  EXPECT_EQ(delivered, 1);
}

// A host whose clock moves 10 ms for every pass of event processing.
struct SteppingClockHost : HeadlessHost {
  void ProcessPendingEvents(std::chrono::milliseconds) override {
    ++passes;
    now += std::chrono::milliseconds(10);
  }
  std::chrono::steady_clock::time_point Now() const override { return now; }
  int passes = 0;
  std::chrono::steady_clock::time_point now{};
};

TEST_F(MovilettasTest, AControlWithoutAFolderOfItsOwnDoesNotStart) {
  HeadlessHost host;
  ModuleState module;
  try {
    Movilettas::Create(host, host.queue(), module, FakeComponents(),
                       {.server_address = server.address()});
    ADD_FAILURE() << "a control started without a folder";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kPathNotFound) << e.description();
  }
  EXPECT_TRUE(server.RequestsTo("/clientSettings.asp").empty()) << "nothing was started";
}

TEST_F(MovilettasTest, WaitProcessesEventsUntilMoreThanTheTimeHasPassed) {
  SteppingClockHost host;
  ModuleState module;
  const auto made = Movilettas::Create(
      host, host.queue(), module, FakeComponents(),
      {.server_address = server.address(), .app_directory = harness.app_directory});
  Movilettas& control = *made;
  control.Wait(Variant(0));
  EXPECT_EQ(host.passes, 1);
  host.passes = 0;
  control.Wait(Variant(0.05));
  EXPECT_EQ(host.passes, 6) << "10..50 ms are not more than 0.05 s; 60 ms is";
  host.passes = 0;
  control.Wait(Variant(1));
  EXPECT_EQ(host.passes, 101);

  control.Wait(Variant("soon"));
  EXPECT_EQ(Reports().at(0).Query("sErrInFunction"), "Wait");
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), "13");
}

TEST_F(MovilettasTest, WaitInARealHostRunsQueuedWorkAndReturnsPromptly) {
  StartStopped();
  int ran = 0;
  harness.host.queue().Post([&] { ++ran; });
  const auto start = std::chrono::steady_clock::now();
  harness.control().Wait(Variant(0));
  EXPECT_EQ(ran, 1);
  EXPECT_GT(std::chrono::steady_clock::now(), start);
}

}  // namespace
}  // namespace moviletta::testing
