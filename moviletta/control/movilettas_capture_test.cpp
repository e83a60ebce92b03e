// SPDX-License-Identifier: GPL-3.0-or-later
// Recording, playback, stop and the video size with fake capture and player components.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class RecordingTest : public ::testing::Test {
 protected:
  void Start(std::map<std::string, std::string> settings = {}) {
    settings.try_emplace("ANIMPREVIEW", "0");
    settings.try_emplace("FPS", "100");
    server.SetSettings(SettingsDocument(server.address(), settings));
    ASSERT_EQ(harness.Start(), std::nullopt);
    Clear();
  }
  void Clear() {
    harness.events.clear();
    harness.capture->calls.clear();
    harness.capture->overlaid.clear();
    harness.player->calls.clear();
    harness.brought_to_front.clear();
    server.ClearRequests();
  }
  void LoadAnimatedSkin(int frames) {
    const std::string folder = harness.app_directory + "/SKINS/ml_skin_42/";
    fs::create_directories(folder);
    for (int i = 1; i <= frames; ++i)
      WriteFile(folder + std::to_string(i) + ".gif", SolidGif(4, 3, {uint8_t(i), 0, 0}));
    harness.control().LoadSkin(42);
    Clear();
  }
  std::vector<int> OverlaidReds() const {
    std::vector<int> reds;
    for (const BitmapHandle& b : harness.capture->overlaid) reds.push_back(b ? b->rgba[0] : -1);
    return reds;
  }
  int Count(const std::string& call) const {
    return static_cast<int>(
        std::count(harness.capture->calls.begin(), harness.capture->calls.end(), call));
  }
  std::string Output(const std::string& name) const { return harness.app_directory + "/" + name; }
  std::vector<RecordedRequest> Reports() const { return server.RequestsTo("/clientErrLog.asp"); }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
};

TEST_F(RecordingTest, WithoutAnAnimatedSkinTheCaptureRunsUntilItEnds) {
  Start();
  WriteFile(Output("Moviletta.avi"), "old take");
  WriteFile(Output("Moviletta.mpg"), "old greeting");
  harness.control().RecordVideo();

  EXPECT_THAT(harness.events, ElementsAre(SeenEvent{ControlEvent::ErrMsgChanged, 1, ""},
                                          SeenEvent{ControlEvent::StatusChanged, 3, ""}));
  EXPECT_THAT(harness.brought_to_front, ElementsAre(SurfaceWindow::VideoCapX1));
  EXPECT_THAT(harness.capture->calls,
              ElementsAre("GrabFrame", "SavePictureAsJpeg(" + Output("Moviletta.jpg") + ",90)",
                          "CaptureFileName=" + Output("Moviletta.avi"), "StartCapture",
                          "SetDisplaySize(320,240)"));
  EXPECT_FALSE(fs::exists(Output("Moviletta.mpg"))) << "the old compressed greeting is gone";
  EXPECT_TRUE(fs::exists(Output("Moviletta.jpg")));
  EXPECT_EQ(harness.module.CaptureExtension, ".avi");
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_RECORDING);

  harness.control().RecordVideo();
  EXPECT_EQ(harness.control().ErrMsg(), "Can't Record while in status: 3");
  EXPECT_EQ(Count("StartCapture"), 1);

  harness.capture->RaiseCaptureEnd();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_TRUE(Reports().empty());
}

// A recording is paused and resumed while it runs, and only then: outside it both are refused,
// as a failure the page's call hears and in ErrMsg.
TEST_F(RecordingTest, PauseAndResumeHoldTheRunningRecordingOnly) {
  Start();
  EXPECT_EQ(ErrorOf([&] { harness.control().PauseVideo(); }), err::kInvalidArgument);
  EXPECT_EQ(harness.control().ErrMsg(), "Can't Pause while in status: 1");
  harness.control().RecordVideo();
  harness.control().PauseVideo();
  harness.control().ResumeVideo();
  EXPECT_EQ(harness.control().ErrMsg(), "");
  EXPECT_EQ(Count("PauseCapture"), 1);
  EXPECT_EQ(Count("ResumeCapture"), 1);
  harness.capture->RaiseCaptureEnd();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(ErrorOf([&] { harness.control().ResumeVideo(); }), err::kInvalidArgument);
  EXPECT_EQ(harness.control().ErrMsg(), "Can't Resume while in status: 1");
  EXPECT_EQ(Count("ResumeCapture"), 1);
  EXPECT_TRUE(Reports().empty());
}

// The editing component may compress a recording while it is reviewed, with the settings of that
// moment; a new recording takes that work back before the old file goes.
TEST_F(RecordingTest, AnEndedRecordingIsCompressedAheadWithTheSettingsOfTheMoment) {
  Start({{"OUTPUT", "mpg"}, {"FILEWIDTH", "176"}});
  harness.editor->calls.clear();
  harness.control().RecordVideo();
  EXPECT_THAT(harness.editor->ahead, ElementsAre("Forget"));
  harness.capture->RaiseCaptureEnd();
  harness.host.ProcessPendingEvents();
  EXPECT_THAT(harness.editor->ahead,
              ElementsAre("Forget", "CompressAhead(" + Output("Moviletta.avi") + ")"));
  EXPECT_THAT(harness.editor->calls, Contains("OutputFormat=6"));
  EXPECT_THAT(harness.editor->calls, Contains("OutputWidth=176"));

  harness.editor->ahead.clear();
  harness.control().RecordVideo();
  harness.capture->RaiseCaptureEnd(Error(err::kComponentFailed, "the camera went away"));
  harness.host.ProcessPendingEvents();
  EXPECT_THAT(harness.editor->ahead, ElementsAre("Forget")) << "a failed recording is not";

  harness.editor->fail_on = "OutputFormat";
  harness.control().RecordVideo();
  harness.capture->RaiseCaptureEnd();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(Reports().size(), 1u) << "only the camera's failure is reported";
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
}

TEST_F(RecordingTest, AnAnimatedSkinCyclesOverTheRecordingUntilTheCaptureEnds) {
  Start();
  LoadAnimatedSkin(3);
  harness.WhenReady([&] { return harness.capture->overlaid.size() >= 5; },
                    [&] {
                      harness.control().PlayVideo();  // refused while recording
                      harness.capture->RaiseCaptureEnd();
                    });
  harness.control().RecordVideo();
  EXPECT_EQ(OverlaidReds(), (std::vector<int>{1, 2, 3, 1, 2, 3})) << "the pass completes";
  EXPECT_EQ(harness.capture->calls.back(), "StopCapture");
  EXPECT_EQ(Count("StopCapture"), 1);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_THAT(harness.events,
              Contains(SeenEvent{ControlEvent::ErrMsgChanged, 3, "Can't Play while in status: 3"}));
  EXPECT_TRUE(Reports().empty());
}

TEST_F(RecordingTest, StopVideoEndsTheSequenceBeforeTheNextFrame) {
  Start();
  LoadAnimatedSkin(3);
  harness.WhenReady([&] { return harness.capture->overlaid.size() >= 4; },
                    [&] { harness.control().StopVideo(); });
  harness.control().RecordVideo();
  EXPECT_EQ(OverlaidReds(), (std::vector<int>{1, 2, 3, 1}));
  EXPECT_EQ(Count("StopCapture"), 2) << "from StopVideo and once more from the sequence";
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);

  // The stop request was cleared: a new recording runs its sequence again.
  harness.WhenReady([&] { return harness.capture->overlaid.size() >= 6; },
                    [&] { harness.capture->RaiseCaptureEnd(); });
  harness.control().RecordVideo();
  EXPECT_GE(harness.capture->overlaid.size(), 6u);
}

TEST_F(RecordingTest, FailuresLeaveTheRecordingStatus) {
  Start({{"FPS", "<omit>"}});  // a failed load leaves FPS 0
  harness.control().RecordVideo();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_RECORDING);
  EXPECT_THAT(harness.capture->calls, Not(Contains("StartCapture")));
  EXPECT_EQ(Reports().at(0).Query("sErrInFunction"), "RecordVideo");
  EXPECT_EQ(Reports().at(0).Query("sErrInSection"), "");
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), "11");
}

TEST_F(RecordingTest, ARestoredSkinPathWithoutLoadedFramesFailsAtTheFirstOverlay) {
  const std::string folder = harness.app_directory + "/SKINS/ml_skin_5/";
  harness.host.property_bag = {{"SkinPath", Variant(folder)}};
  server.SetSettings(SettingsDocument(server.address(), {{"FPS", "100"}}));
  ASSERT_EQ(harness.Start(/*new_instance=*/false), std::nullopt);
  fs::create_directories(folder);
  for (int i = 1; i <= 3; ++i) WriteFile(folder + std::to_string(i) + ".gif", "GIF89a");
  server.ClearRequests();
  harness.control().RecordVideo();
  EXPECT_EQ(Reports().at(0).Query("sErrInSection"), "overlay skin");
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), "340");
  EXPECT_TRUE(harness.capture->capturing);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_RECORDING);
}

// What the person sees: the take plays in its window at the size the page set, until the end of
// the playback (and only then) or Stop, which brings the camera's window back at that size.
TEST_F(RecordingTest, PlaybackShowsTheTakeAtTheVideoSizeUntilItEndsOrStops) {
  Start();
  const FakeVideoPlayer& player = *harness.player;
  harness.control().PlayVideo();
  EXPECT_TRUE(player.file.empty()) << "nothing to play before a recording";
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);

  harness.control().RecordVideo();
  harness.capture->RaiseCaptureEnd();
  harness.host.ProcessPendingEvents();
  harness.control().SetVideoSize(640, 480);
  harness.control().PlayVideo();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_PLAYING);
  EXPECT_EQ(harness.brought_to_front.back(), SurfaceWindow::VideoCapX2);
  EXPECT_EQ(player.file, Output("Moviletta.avi"));
  EXPECT_TRUE(player.playing);
  EXPECT_EQ(std::pair(player.display_width, player.display_height), std::pair(640, 480));
  harness.player->RaisePlayerChangeState(2);
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_PLAYING) << "only state 0 means stopped";
  harness.player->RaisePlayerChangeState(0);
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);

  harness.control().PlayVideo();
  Clear();
  harness.control().StopVideo();
  EXPECT_FALSE(player.playing);
  EXPECT_TRUE(player.file.empty()) << "the take is no longer held open";
  EXPECT_FALSE(harness.capture->capturing);
  EXPECT_EQ(harness.brought_to_front.back(), SurfaceWindow::VideoCapX1);
  EXPECT_EQ(std::pair(harness.capture->display_width, harness.capture->display_height),
            std::pair(640, 480));
  harness.control().StopVideo();
  EXPECT_THAT(harness.events, ElementsAre(SeenEvent{ControlEvent::StatusChanged, 1, ""},
                                          SeenEvent{ControlEvent::StatusChanged, 1, ""}))
      << "StopVideo in status 1 still raises the event";

  harness.control().LoadClientSettings();
  EXPECT_EQ(harness.module.VideoWidth, 320);
  EXPECT_EQ(harness.module.VideoHeight, 240);
}

TEST_F(RecordingTest, AVideoSizeNoWindowCanShowIsRefusedAndThePictureGoesOn) {
  Start();
  Clear();
  for (const auto& [width, height] : {std::pair{1, 1}, std::pair{100000, 100000}, std::pair{640, 0},
                                      std::pair{15, 480}, std::pair{640, 4097}}) {
    try {
      harness.control().SetVideoSize(width, height);
      ADD_FAILURE() << width << "x" << height << " was taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), err::kInvalidArgument);
    }
  }
  EXPECT_TRUE(harness.capture->calls.empty()) << "the picture keeps its size";
  EXPECT_EQ(harness.module.VideoWidth, 320);
  harness.control().SetVideoSize(16, 4096);
  EXPECT_THAT(harness.capture->calls, ElementsAre("SetDisplaySize(16,4096)"));
}

TEST_F(RecordingTest, AFailingStepOfStopVideoSkipsTheRest) {
  Start();
  harness.control().RecordVideo();
  Clear();
  harness.player->fail_on = "StopPlayback";
  harness.control().StopVideo();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_RECORDING);
  EXPECT_TRUE(harness.player->calls.empty());
  EXPECT_EQ(Reports().at(0).Query("sErrInFunction"), "StopVideo");
}

}  // namespace
}  // namespace moviletta::testing
