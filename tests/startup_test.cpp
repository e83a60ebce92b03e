// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, settings, registration and error reports against a real greeting server on 127.0.0.1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

const std::vector<std::string> kIdentityKeys{"sPassword", "sInstallationID", "sCurrentVersion",
                                             "sRnd"};
const std::vector<std::string> kReportKeys{
    "sPassword", "sInstallationID", "sCurrentVersion", "sErrInFunction", "sErrInSection",
    "sErrCode",  "sErrDesc",        "sErrSource",      "sAddInfo",       "sRnd"};

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() { server.SetSettings(SettingsDocument(server.address())); }

  std::vector<RecordedRequest> Reports() const { return server.RequestsTo("/clientErrLog.asp"); }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
};

TEST_F(StartupTest, LoadsSettingsConfiguresComponentsRegistersAndStops) {
  ASSERT_EQ(harness.Start(), std::nullopt);

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u) << "settings, then registration, and no error report";
  const RecordedRequest& settings = requests[0];
  const RecordedRequest& registration = requests[1];
  EXPECT_EQ(settings.path, "/clientSettings.asp");
  EXPECT_EQ(registration.path, "/register.asp");
  for (const RecordedRequest* r : {&settings, &registration}) {
    EXPECT_EQ(r->method, "GET");
    EXPECT_EQ(r->QueryKeys(), kIdentityKeys);
    EXPECT_EQ(r->Query("sPassword"), "tk52Rm36P");
    EXPECT_EQ(r->Query("sInstallationID"), "-1294967296");
    EXPECT_EQ(r->Query("sCurrentVersion"), "1.6");
    EXPECT_THAT(r->Query("sRnd"), MatchesRegex("[1-9][0-9]{5}"));
  }
  EXPECT_FALSE(settings.HasHeader("Content-type"));
  ASSERT_TRUE(registration.HasHeader("Content-type"));
  EXPECT_EQ(registration.headers.find("Content-type")->second, "text");

  const ClientSettings& s = harness.module.ClientSettings;
  EXPECT_EQ(s.SITE, "moviletta");
  EXPECT_EQ(s.SKIN, server.address() + "/skinType.asp");
  EXPECT_EQ(s.TRANSCOLOR, 16711935);
  EXPECT_EQ(s.AUDIOSAMPLERATE, 22050);
  EXPECT_EQ(s.SMTPPWD, "secret");
  EXPECT_EQ(harness.module.VideoWidth, 320);
  EXPECT_EQ(harness.module.VideoHeight, 240);

  EXPECT_THAT(harness.capture->calls, ElementsAre("SourceIndex=0", "SetCaptureSize(320,240)",
                                                  "FrameRate=15", "Preview=True", "TimeLimit=30",
                                                  "TimeLimitEnabled=True", "Connected=True"));
  EXPECT_THAT(harness.editor->calls, ElementsAre("OutputFrameRate=15"));
  EXPECT_TRUE(harness.module.Safety.SafeForScripting);
  EXPECT_TRUE(harness.module.Safety.SafeForInitializing);
  EXPECT_THAT(harness.events, ElementsAre(SeenEvent{ControlEvent::StatusChanged, 1, ""},
                                          SeenEvent{ControlEvent::ErrMsgChanged, 1, ""}));
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
}

class OutputFormat : public StartupTest,
                     public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(OutputFormat, OnlyExactMpgOrWmvSurvive) {
  server.SetSettings(SettingsDocument(server.address(), {{"OUTPUT", GetParam().first}}));
  harness.Start();
  EXPECT_EQ(harness.module.ClientSettings.OUTPUT, GetParam().second);
  // A reload by the page keeps to the same two, so the output can never be the recording.
  server.SetSettings(SettingsDocument(server.address(), {{"OUTPUT", "mpg"}}));
  harness.control().LoadClientSettings();
  server.SetSettings(SettingsDocument(server.address(), {{"OUTPUT", GetParam().first}}));
  harness.control().LoadClientSettings();
  EXPECT_EQ(harness.module.ClientSettings.OUTPUT, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(StartupTest, OutputFormat,
                         ::testing::Values(std::pair{"mpg", "mpg"}, std::pair{"wmv", "wmv"},
                                           std::pair{"WMV", "wmv"}, std::pair{"avi", "wmv"},
                                           std::pair{"", "wmv"}, std::pair{" mpg", "wmv"}));

TEST_F(StartupTest, AnyRegistrationAnswerIsTheSame) {
  for (const char* answer :
       {"", "<html><body>500 Internal error</body></html>", "NOT,REGISTERED"}) {
    GreetingServerFixture other;
    other.SetSettings(SettingsDocument(other.address()));
    other.SetRegisterAnswer(answer);
    ControlHarness h(other.address());
    EXPECT_EQ(h.Start(), std::nullopt);
    EXPECT_EQ(h.control().ClientStatus(), STATUS_STOPPED) << answer;
    EXPECT_TRUE(other.RequestsTo("/clientErrLog.asp").empty()) << answer;
  }
}

TEST_F(StartupTest, WithTheServerDownStartupFailsToTheHostAndEverythingRefuses) {
  ControlHarness down(UnusedLocalAddress());
  const std::optional<Error> failure = down.Start();
  ASSERT_TRUE(failure.has_value()) << "the failed report must reach the host as a script error";
  EXPECT_EQ(failure->number(), err::kHttpRequestFailed);
  EXPECT_EQ(down.control().ClientStatus(), STATUS_STARTING);
  EXPECT_TRUE(down.capture->calls.empty());
  EXPECT_TRUE(down.editor->calls.empty());
  EXPECT_FALSE(down.module.Safety.SafeForScripting);
  EXPECT_EQ(down.module.VideoWidth, 0);

  const std::pair<const char*, const char*> guarded[] = {
      {"RecordVideo", "Can't Record while in status: 0"},
      {"PlayVideo", "Can't Play while in status: 0"},
      {"LoadSkin", "Can't Load skin while in status: 0"},
      {"SendGreeting", "Can't Send while in status: 0"}};
  for (const auto& [member, refusal] : guarded) {
    down.events.clear();
    std::vector<Variant> args;
    if (std::string_view(member) == "LoadSkin") args = {Variant(5)};
    if (std::string_view(member) == "SendGreeting")
      args = {Variant(1), "a", "b", "c", "d", "e", Variant(2)};
    const CallOutcome outcome = down.Call(member, args);
    EXPECT_FALSE(outcome.error) << member;
    EXPECT_THAT(down.events, ElementsAre(SeenEvent{ControlEvent::ErrMsgChanged, 0, refusal}));
  }
  EXPECT_EQ(down.module.CaptureExtension, ".avi") << "a refused RecordVideo still sets it";
}

TEST_F(StartupTest, AFailedSettingsRequestIsReportedAndStartupGoesOnWithZeros) {
  server.MisbehaveOnSettings("drop");
  ASSERT_EQ(harness.Start(), std::nullopt);

  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u) << "settings, then the registration with an empty REGISTER";
  EXPECT_EQ(reports[0].QueryKeys(), kReportKeys);
  EXPECT_EQ(reports[0].Query("sErrInFunction"), "LoadClientSettings");
  const std::string settings_url = server.RequestsTo("/clientSettings.asp").at(0).target;
  EXPECT_EQ(reports[0].Query("sErrInSection"), "sSettingsURL: " + server.address() + settings_url);
  EXPECT_EQ(reports[0].Query("sErrCode"), std::to_string(err::kHttpRequestFailed));
  EXPECT_EQ(reports[0].Query("sErrCode").front(), '-');
  EXPECT_EQ(reports[0].Query("sErrSource"), "Moviletta.HttpClient");
  EXPECT_EQ(reports[1].Query("sErrInFunction"), "RegisterInstallation");
  EXPECT_THAT(reports[1].Query("sErrInSection"),
              MatchesRegex("set URL: \\?sPassword=tk52Rm36P&.*"));

  EXPECT_THAT(harness.capture->calls, ::testing::Contains("FrameRate=0"));
  EXPECT_THAT(harness.capture->calls, ::testing::Contains("TimeLimit=0"));
  EXPECT_EQ(harness.module.VideoWidth, 0);
  EXPECT_EQ(harness.module.ClientSettings.OUTPUT, "wmv");
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
}

TEST_F(StartupTest, ASilentServerTimesOutInsteadOfHanging) {
  server.MisbehaveOnSettings("slow");
  ASSERT_EQ(harness.Start(), std::nullopt);
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), std::to_string(err::kHttpTimeout));
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
}

TEST_F(StartupTest, NumbersOutsideTheirRangeAreRefusedAndReported) {
  server.SetSettings(SettingsDocument(server.address(), {{"FPS", "0"}, {"SECLIMIT", "-5"}}));
  harness.Start();
  const ClientSettings& s = harness.module.ClientSettings;
  EXPECT_EQ(s.FPS, 15) << "the default, since there was no former value";
  EXPECT_EQ(s.SECLIMIT, 60);
  EXPECT_EQ(s.SMTPHOST, "127.0.0.1:2525") << "the fields after them are read";
  EXPECT_EQ(harness.module.VideoWidth, 320);
  const RecordedRequest report = Reports().at(0);
  EXPECT_EQ(report.Query("sErrInFunction"), "LoadClientSettings");
  EXPECT_EQ(report.Query("sErrInSection"), "settings out of range");
  EXPECT_THAT(report.Query("sErrDesc"), HasSubstr("FPS 0 is outside 1 to 60, kept 15"));
  EXPECT_THAT(report.Query("sErrDesc"), HasSubstr("SECLIMIT -5"));

  server.SetSettings(SettingsDocument(server.address(), {{"FPS", "25"}}));
  harness.control().LoadClientSettings();
  server.SetSettings(SettingsDocument(server.address(), {{"FPS", "100000"}}));
  harness.control().LoadClientSettings();
  EXPECT_EQ(s.FPS, 25) << "the former value stays";
  harness.control().LoadSkin(-1);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
}

TEST_F(StartupTest, ASettingsDocumentStopsAtItsFirstMissingOrBadField) {
  const std::string partial =
      "<?xml version=\"1.0\"?>\n<X><SITE>s1</SITE>\n<Y><DOWNLOAD>d&amp;1=?"
      "</DOWNLOAD></Y><register>lower case</register></X>";
  server.SetSettings(partial);
  harness.Start();
  const ClientSettings& s = harness.module.ClientSettings;
  EXPECT_EQ(s.SITE, "s1");
  EXPECT_EQ(s.DOWNLOAD, "d&1=?");
  EXPECT_EQ(s.REGISTER, "") << "an element differing in case counts as missing";
  EXPECT_EQ(s.FPS, 0);
  EXPECT_EQ(harness.module.VideoWidth, 0) << "the display size is reset only at the end";
  const RecordedRequest report = Reports().at(0);
  EXPECT_EQ(report.Query("sErrInFunction"), "LoadClientSettings");
  EXPECT_EQ(report.Query("sErrInSection"), "xmlHTTP.responseText: " + partial)
      << "a section holding '&', '=', '?' and line breaks must arrive intact";
  EXPECT_EQ(report.Query("sErrCode"), "91");

  // A later load with a bad number keeps the fields from there on and the display size.
  server.SetSettings(SettingsDocument(server.address()));
  harness.control().LoadClientSettings();
  harness.module.VideoWidth = 640;
  server.SetSettings(SettingsDocument(
      server.address(), {{"SITE", "s2"}, {"TRANSCOLOR", " -5 "}, {"FPS", "fifteen"}}));
  server.ClearRequests();
  harness.control().LoadClientSettings();
  EXPECT_EQ(s.SITE, "s2");
  EXPECT_EQ(s.TRANSCOLOR, -5);
  EXPECT_EQ(s.FPS, 15);
  EXPECT_EQ(s.SMTPHOST, "127.0.0.1:2525");
  EXPECT_EQ(harness.module.VideoWidth, 640);
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), "13");

  server.SetSettings(SettingsDocument(server.address(), {{"FPS", "7.5"}, {"SECLIMIT", ""}}));
  harness.control().LoadClientSettings();
  EXPECT_EQ(s.SECLIMIT, 30) << "an empty number element fails";
  server.SetSettings(SettingsDocument(server.address(), {{"FPS", "12.5"}}));
  harness.control().LoadClientSettings();
  EXPECT_EQ(s.FPS, 12);
  EXPECT_EQ(harness.module.VideoWidth, 320);
}

TEST_F(StartupTest, AFailedReportIsReportedByTheCallerAndThenReachesTheHost) {
  server.MisbehaveOnSettings("garbage");
  server.MisbehaveOnErrorLog("drop");
  const std::optional<Error> failure = harness.Start();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number(), err::kHttpRequestFailed);
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].Query("sErrInFunction"), "LoadClientSettings");
  EXPECT_EQ(reports[0].Query("sErrInSection"),
            "xmlHTTP.responseText: " + std::string("\x01\xff<<not xml & ", 14));
  EXPECT_EQ(reports[1].Query("sErrInFunction"), "UserControl_Initialize");
  EXPECT_EQ(reports[1].Query("sErrInSection"), "load client settings");
  EXPECT_EQ(reports[1].Query("sErrCode"), std::to_string(err::kHttpRequestFailed));
  EXPECT_THAT(reports[1].Query("sErrDesc"), HasSubstr("clientErrLog.asp"));
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STARTING);
}

TEST_F(StartupTest, ACaptureFailureStopsStartupBeforeRegistration) {
  harness.volume_serial = [] { return std::optional<uint32_t>(); };
  harness.capture_fail_on = "FrameRate";
  EXPECT_EQ(harness.Start(), std::nullopt) << "the failure is reported, not raised";
  EXPECT_THAT(harness.capture->calls, ElementsAre("SourceIndex=0", "SetCaptureSize(320,240)"));
  EXPECT_TRUE(harness.editor->calls.empty());
  EXPECT_TRUE(server.RequestsTo("/register.asp").empty());
  EXPECT_FALSE(harness.module.Safety.SafeForScripting);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STARTING);
  const RecordedRequest report = Reports().at(0);
  EXPECT_EQ(report.Query("sErrInFunction"), "UserControl_Initialize");
  EXPECT_EQ(report.Query("sErrInSection"), "set VideoCapX1 settings");
  EXPECT_EQ(report.Query("sInstallationID"), "-1");
  EXPECT_EQ(report.Query("sErrDesc"), "FrameRate failed");
  EXPECT_EQ(harness.Call("RecordVideo").error, std::nullopt);
  EXPECT_EQ(harness.control().ErrMsg(), "Can't Record while in status: 0");
}

}  // namespace
}  // namespace moviletta::testing
