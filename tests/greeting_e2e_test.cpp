// SPDX-License-Identifier: GPL-3.0-or-later
// A greeting from recording to mail drop with every real component on the synthetic camera.
#include <gtest/gtest.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "moviletta/capture/ffmpeg_capture_device.h"
#include "moviletta/capture/ffmpeg_player.h"
#include "moviletta/common/constants.h"
#include "moviletta/dispatch/curl_mail_sender.h"
#include "moviletta/encoding/ffmpeg_video_editor.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/media_probe.h"

namespace moviletta::testing {
namespace {

// A harness with every real component, its mail going to `smtp_host`.
struct RealControl {
  explicit RealControl(const std::string& smtp_host, int seconds = 1) {
    server.SetSettings(SettingsDocument(server.address(), {{"SECLIMIT", std::to_string(seconds)},
                                                           {"FPS", "15"},
                                                           {"OUTPUT", "mpg"},
                                                           {"SMTPHOST", smtp_host}}));
    harness.customize = [](Components& c) {
      c.VideoCapX1 = std::make_unique<FfmpegCaptureDevice>(
          CaptureOptions{.source = CaptureOptions::Source::kSynthetic});
      c.VideoCapX2 = std::make_unique<FfmpegPlayer>();
      c.VideoEdit1 = std::make_unique<FfmpegVideoEditor>();
      c.CreateMailSender = CurlMailSenderFactory();
    };
    EXPECT_EQ(harness.Start(), std::nullopt);
    harness.host.on_message_box = [this](std::string_view text) { boxes.emplace_back(text); };
  }
  bool Await(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      harness.host.ProcessPendingEvents(std::chrono::milliseconds(20));
    return done();
  }
  bool Record() {
    harness.control().RecordVideo();
    return Await([&] { return harness.control().ClientStatus() == STATUS_STOPPED; });
  }
  nlohmann::json Outbox() { return nlohmann::json::parse(harness.control().OutboxList()); }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
  std::vector<std::string> boxes;
};

TEST(GreetingEndToEnd, RecordedCompressedAndMailedWithBothAttachments) {
  MailDrop drop({"--password", "secret"});
  RealControl control(drop.host());
  ControlHarness& harness = control.harness;
  GreetingServerFixture& server = control.server;
  std::vector<std::string>& boxes = control.boxes;
  const auto await = [&](const std::function<bool()>& done) { return control.Await(done); };

  ASSERT_TRUE(control.Record());
  harness.control().SendGreeting(7, "Ann", "ann@test", "Bob,555,bob@test", "Hi", "1", 3);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  ASSERT_TRUE(await([&] { return !harness.panel->visible; })) << "the send's result";
  EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0]);

  const auto mail = drop.WaitForMail(1, std::chrono::seconds(5));
  ASSERT_TRUE(mail);
  const std::string folder = harness.app_directory + "/";
  EXPECT_EQ(ReadFile(*mail + ".parts/Moviletta.mpg"), ReadFile(folder + "Moviletta.mpg"));
  EXPECT_EQ(ReadFile(*mail + ".parts/Moviletta.jpg"), ReadFile(folder + "Moviletta.jpg"));
  EXPECT_EQ(ReadFile(*mail + ".subject"), "MovilettaStudio");
  EXPECT_EQ(ReadFile(*mail + ".body").rfind("<?xml version=\"1.0\"?><MLMESSAGE>", 0), 0u);
  const MediaInfo greeting = Probe(folder + "Moviletta.mpg");
  EXPECT_EQ(greeting.video_codec, "mpeg2video");
  EXPECT_NEAR(greeting.video_frames, 15, 1);
  EXPECT_EQ(harness.progress->text().rfind("Sending...  ", 0), 0u) << harness.progress->text();

  harness.control().SendByEmail("Ann", "ann@test", "Bob", "+41 79", "bob@test", "Hi");
  ASSERT_TRUE(drop.WaitForMail(2, std::chrono::seconds(10)));
  EXPECT_EQ(ReadFile(*drop.WaitForMail(2, std::chrono::seconds(1)) + ".subject"),
            "Voxa-Mobile +41 79");
  EXPECT_TRUE(server.RequestsTo("/clientErrLog.asp").empty());
}

// A take trimmed to 1.0 - 2.5 s is mailed as those 1.5 s: its first picture is the recording's
// picture at 1 s, its sound starts with the sound of 1 s and is as long as its pictures.
TEST(GreetingEndToEnd, ATrimmedTakeIsMailedFromItsStartToItsEnd) {
  MailDrop drop({"--password", "secret"});
  RealControl control(drop.host(), 3);
  ControlHarness& harness = control.harness;
  ASSERT_TRUE(control.Record());
  harness.control().TrimTake(1.0, 2.5);
  EXPECT_EQ(harness.control().ErrMsg(), "");
  harness.control().SendByEmail("Ann", "ann@test", "Bob", "+41 79", "bob@test", "Hi");
  ASSERT_TRUE(control.Await([&] { return !harness.panel->visible; }));
  const auto mail = drop.WaitForMail(1, std::chrono::seconds(10));
  ASSERT_TRUE(mail);
  const std::string greeting = *mail + ".parts/Moviletta.mpg";
  constexpr double kFrame = 1.0 / 15;
  EXPECT_NEAR(Probe(greeting).video_seconds, 1.5, kFrame);
  const Tracks tracks = DecodeTracks(greeting);
  EXPECT_NEAR(double(tracks.sound.size()) / 22050, 1.5, kFrame);
  const int recorded = BoxLeft(DecodePicture(harness.app_directory + "/Moviletta.avi", 15));
  ASSERT_GE(recorded, 0) << "the test must find the box";
  EXPECT_NEAR(BoxLeft(DecodePicture(greeting, 0)), recorded, 4) << "within a frame of 1 s";
  // The tone steps to another pitch each second (a step to a pitch happens once in 3 s): the
  // greeting's first step is the recording's step to that pitch, 1 s earlier.
  const std::vector<PitchStep> sent = PitchSteps(tracks.sound, 22050);
  const std::vector<PitchStep> steps =
      PitchSteps(DecodeTracks(harness.app_directory + "/Moviletta.avi").sound, 22050);
  ASSERT_FALSE(sent.empty());
  const auto same = std::find_if(steps.begin(), steps.end(), [&](const PitchStep& step) {
    return std::abs(step.pitch - sent[0].pitch) < 20;
  });
  ASSERT_NE(same, steps.end()) << "a step to " << sent[0].pitch << " Hz";
  EXPECT_NEAR(sent[0].at + 1.0, same->at, kFrame) << "the sound is the recording's from 1 s";
}

// A greeting whose mail could not go waits in the outbox with its own files (as trimmed),
// whatever is recorded next, and goes exactly once when the person sends it again.
TEST(GreetingEndToEnd, AGreetingNotMailedWaitsInTheOutboxAndGoesOnceWhenSentAgain) {
  const std::string address = UnusedLocalAddress();
  const std::string port = address.substr(address.rfind(':') + 1);
  RealControl control("127.0.0.1:" + port, 2);
  ControlHarness& harness = control.harness;
  ASSERT_TRUE(control.Record());
  harness.control().TrimTake(0.5, 0);
  harness.control().SendGreeting(7, "Ann", "ann@test", "Bob,555,bob@test", "Hi", "1", 3);
  ASSERT_TRUE(control.Await([&] { return !harness.panel->visible; })) << "the send's result";
  ASSERT_EQ(control.boxes.size(), 1u) << "the failure is told as before";

  nlohmann::json outbox = control.Outbox();
  ASSERT_EQ(outbox.size(), 1u);
  const std::string id = outbox[0]["id"];
  EXPECT_EQ(outbox[0]["label"], "MovilettaStudio");
  EXPECT_EQ(outbox[0]["recipients"], "Bob,555,bob@test");
  EXPECT_EQ(outbox[0]["sending"], false);
  EXPECT_EQ(outbox[0]["explanation"], control.boxes[0]);
  const std::string output = harness.app_directory + "/";
  const std::string kept = harness.app_directory + "/OUTBOX/" + id + "/";
  const std::string greeting = ReadFile(output + "Moviletta.mpg");
  const std::string snapshot = ReadFile(output + "Moviletta.jpg");
  EXPECT_EQ(ReadFile(kept + "Moviletta.mpg"), greeting);
  EXPECT_NEAR(Probe(kept + "Moviletta.mpg").video_seconds, 1.5, 1.0 / 15) << "as trimmed";
  EXPECT_EQ(ReadFile(kept + "Moviletta.jpg"), snapshot);
  EXPECT_EQ(outbox[0]["bytes"], greeting.size() + snapshot.size());

  ASSERT_TRUE(control.Record());
  EXPECT_EQ(ReadFile(kept + "Moviletta.mpg"), greeting) << "a new take leaves the outbox alone";

  MailDrop drop({"--port", port, "--password", "secret"});
  harness.control().OutboxSend(id);
  ASSERT_TRUE(control.Await([&] { return !harness.panel->visible; }));
  const auto mail = drop.WaitForMail(1, std::chrono::seconds(5));
  ASSERT_TRUE(mail);
  EXPECT_EQ(ReadFile(*mail + ".parts/Moviletta.mpg"), greeting);
  EXPECT_EQ(ReadFile(*mail + ".parts/Moviletta.jpg"), snapshot);
  EXPECT_EQ(ReadFile(*mail + ".subject"), "MovilettaStudio");
  EXPECT_TRUE(control.Outbox().empty()) << "a sent greeting leaves the outbox";
  EXPECT_FALSE(drop.WaitForMail(2, std::chrono::seconds(1))) << "exactly one mail";
  EXPECT_EQ(control.boxes.size(), 1u);
  EXPECT_THROW(harness.control().OutboxSend(id), Error) << "gone";
}

}  // namespace
}  // namespace moviletta::testing
