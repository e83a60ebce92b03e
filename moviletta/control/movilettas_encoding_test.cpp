// SPDX-License-Identifier: GPL-3.0-or-later
// Merging and compression with the fake editing component.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include <algorithm>

#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

using ::testing::ElementsAre;

class CompressionTest : public ::testing::Test {
 protected:
  void Start(const std::string& output) {
    server.SetSettings(SettingsDocument(server.address(), {{"OUTPUT", output}}));
    ASSERT_EQ(harness.Start(), std::nullopt);
    harness.editor->calls.clear();
    server.ClearRequests();
  }
  std::vector<RecordedRequest> Reports() const { return server.RequestsTo("/clientErrLog.asp"); }
  std::string Output(const std::string& name) const { return harness.app_directory + "/" + name; }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
};

TEST_F(CompressionTest, MpegSetsEveryParameterInOrderBeforeTheJob) {
  Start("mpg");
  harness.module.CaptureExtension = ".avi";
  const auto job = harness.insides().CompressFile();
  const std::string input = Output("Moviletta.avi");
  EXPECT_THAT(
      harness.editor->calls,
      ElementsAre("OutputFormat=6", "AudioSampleRate=22050", "AudioBitRate=64000", "SampleSize=16",
                  "OutputHeight=240", "OutputWidth=320", "OutputFrameRate=15", "InitEditor",
                  "GetClipDuration(" + input + ")", "AddVideoClip(" + input + ",0,2.5,0)",
                  "AddAudioClip(" + input + ",0,2.5)",
                  "SaveOutputFile(" + Output("Moviletta.mpg") + ")"));
  EXPECT_TRUE(harness.panel->visible);
  EXPECT_THAT(harness.brought_to_front, ::testing::Contains(SurfaceWindow::picGeneral));
  EXPECT_FALSE(job->failed);
  EXPECT_TRUE(Reports().empty());
}

// A trimmed take is what the work ahead and a send compress, sound and pictures alike; a part
// outside the take or too short is refused and changes nothing; the next recording is whole.
TEST_F(CompressionTest, ATrimmedTakeIsWhatIsCompressedUntilTheNextRecording) {
  Start("mpg");
  EXPECT_EQ(ErrorOf([&] { harness.control().TrimTake(0, 1); }), err::kFileNotFound);
  EXPECT_EQ(harness.control().TakeSeconds(), 0) << "no take yet";
  harness.control().RecordVideo();
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_RECORDING);
  EXPECT_EQ(harness.control().TakeSeconds(), 0) << "none finished yet";
  EXPECT_EQ(ErrorOf([&] { harness.control().TrimTake(1, 2); }), err::kInvalidArgument)
      << "a refused trim is a failure its caller sees";
  EXPECT_EQ(harness.control().ErrMsg(), "Can't Trim while in status: 3");
  harness.capture->RaiseCaptureEnd();
  harness.host.ProcessPendingEvents();
  const std::string input = Output("Moviletta.avi");
  const auto clips = [&] {
    harness.editor->calls.clear();
    harness.insides().MergeVideo();
    std::vector<std::string> added;
    for (const std::string& call : harness.editor->calls)
      if (call.starts_with("Add")) added.push_back(call);
    return added;
  };

  EXPECT_EQ(harness.control().TakeSeconds(), 2.5) << "the fake editor's clips are 2.5 s";
  harness.editor->ahead.clear();
  harness.control().TrimTake(1, 2);
  EXPECT_EQ(harness.control().ErrMsg(), "");
  EXPECT_THAT(harness.editor->ahead, ElementsAre("CompressAhead(" + input + ",1,2)"));
  EXPECT_THAT(clips(),
              ElementsAre("AddVideoClip(" + input + ",1,2,0)", "AddAudioClip(" + input + ",1,2)"));
  harness.control().PlayVideo();
  EXPECT_TRUE(harness.player->playing);
  EXPECT_EQ(harness.player->range, std::pair(1.0, 2.0)) << "review plays what is sent";
  harness.control().StopVideo();
  for (const std::pair<double, double>& part :
       {std::pair(-0.1, 1.0), std::pair(1.0, 3.0), std::pair(1.0, 1.4), std::pair(2.2, 0.0)})
    EXPECT_EQ(ErrorOf([&] { harness.control().TrimTake(part.first, part.second); }),
              err::kInvalidArgument)
        << part.first << " to " << part.second;
  EXPECT_THAT(clips(),
              ElementsAre("AddVideoClip(" + input + ",1,2,0)", "AddAudioClip(" + input + ",1,2)"))
      << "a refused trim changes nothing";
  harness.control().TrimTake(0.5, 0);
  EXPECT_THAT(clips(), ElementsAre("AddVideoClip(" + input + ",0.5,2.5,0)",
                                   "AddAudioClip(" + input + ",0.5,2.5)"));

  harness.control().RecordVideo();
  harness.capture->RaiseCaptureEnd();
  harness.host.ProcessPendingEvents();
  EXPECT_THAT(clips(), ElementsAre("AddVideoClip(" + input + ",0,2.5,0)",
                                   "AddAudioClip(" + input + ",0,2.5)"))
      << "a new recording is sent whole";
  harness.control().PlayVideo();
  EXPECT_EQ(harness.player->range, std::pair(0.0, 0.0)) << "and played whole";
}

TEST_F(CompressionTest, WmvSetsOnlyTheFormatAndTheFrameRate) {
  Start("wmv");
  harness.insides().MergeVideo();
  const std::string input = Output("Moviletta");  // no RecordVideo yet: no extension
  EXPECT_THAT(harness.editor->calls,
              ElementsAre("OutputFormat=9", "OutputFrameRate=15", "InitEditor",
                          "GetClipDuration(" + input + ")", "AddVideoClip(" + input + ",0,2.5,0)",
                          "AddAudioClip(" + input + ",0,2.5)",
                          "SaveOutputFile(" + Output("Moviletta.wmv") + ")"));
}

TEST_F(CompressionTest, AnOutputThatIsNeitherSetsNoFormat) {
  Start("wmv");
  harness.module.ClientSettings.OUTPUT = "avi";  // as when start-up stopped before normalising
  harness.insides().MergeVideo();
  EXPECT_EQ(harness.editor->calls.front(), "OutputFrameRate=15");
  EXPECT_EQ(harness.editor->calls.back(), "SaveOutputFile(" + Output("Moviletta.avi") + ")");
}

TEST_F(CompressionTest, AFailureBeforeTheJobIsReportedAndRecorded) {
  Start("mpg");
  harness.editor->fail_on = "AddVideoClip";
  EXPECT_TRUE(harness.insides().CompressFile()->failed);
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].Query("sErrInFunction"), "MergeVideo");
  EXPECT_EQ(Reports()[0].Query("sErrInSection"), "ad video+audio");
  EXPECT_THAT(harness.editor->calls,
              ::testing::Not(::testing::Contains(::testing::StartsWith("Save"))));
}

TEST_F(CompressionTest, ProgressRoundsHalvesToEvenAndCompletionResetsTheBar) {
  Start("wmv");
  const auto job = harness.insides().MergeVideo();
  for (auto [done, total] : {std::pair{50.0, 200.0}, {1.0, 8.0}, {3.0, 8.0}})
    harness.editor->RaiseProcessing(done, total);
  harness.editor->RaiseProcessing(5, 0);
  harness.host.ProcessPendingEvents();
  EXPECT_THAT(harness.progress->values, ElementsAre(25, 12, 38));
  EXPECT_THAT(harness.progress->texts,
              ElementsAre("Proccesing...  25%", "Proccesing...  12%", "Proccesing...  38%"));
  ASSERT_EQ(Reports().size(), 1u) << "a total of 0 fails and leaves the bar";
  EXPECT_EQ(Reports()[0].Query("sErrInFunction"), "VideoEdit1_Processing");

  EXPECT_FALSE(job->done);
  harness.editor->RaiseComplete();
  harness.host.ProcessPendingEvents();
  EXPECT_TRUE(job->done);
  EXPECT_EQ(harness.progress->value(), 0);
  EXPECT_EQ(harness.progress->text(), "");
}

TEST_F(CompressionTest, AFailedJobIsReportedAndRecorded) {
  Start("wmv");
  const auto job = harness.insides().MergeVideo();
  ASSERT_FALSE(job->failed);
  harness.editor->RaiseFailed(Error(err::kComponentFailed, "disk full", "Moviletta.VideoEditor"));
  harness.host.ProcessPendingEvents();
  EXPECT_TRUE(job->failed);
  EXPECT_FALSE(job->done);
  EXPECT_EQ(Reports().at(0).Query("sErrInFunction"), "VideoEdit1_Failed");
  EXPECT_EQ(Reports().at(0).Query("sErrDesc"), "disk full");
}

TEST_F(CompressionTest, ASecondCompressionSharesTheRunningJobOrWaitsForIt) {
  Start("wmv");
  harness.module.CaptureExtension = ".avi";
  const auto first = harness.insides().CompressFile();
  const auto same = harness.insides().CompressFile();
  EXPECT_EQ(same, first) << "the same recording and settings share the job";
  EXPECT_EQ(std::ranges::count_if(harness.editor->calls,
                                  [](const std::string& c) { return c.starts_with("Save"); }),
            1);

  harness.module.ClientSettings.FPS = 25;  // another output: it waits for the running job
  harness.editor->RaiseProcessing(1, 4);
  harness.WhenReady([] { return true; }, [&] { harness.editor->RaiseComplete(); });
  const auto other = harness.insides().CompressFile();
  EXPECT_TRUE(first->done);
  EXPECT_NE(other, first);
  EXPECT_FALSE(other->failed) << "started once the first had ended";
  EXPECT_EQ(harness.editor->last_job(), 2u);

  harness.editor->RaiseProcessing(1, 1);
  harness.editor->RaiseProcessingOf(1, 1, 2);  // the old job's late news does not reach the bar
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.progress->values.back(), 100);
  EXPECT_TRUE(Reports().empty());
}

}  // namespace
}  // namespace moviletta::testing
