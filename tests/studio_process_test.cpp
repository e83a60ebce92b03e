// SPDX-License-Identifier: GPL-3.0-or-later
// The studio program as a person runs it: it stops at once on a signal whatever it is doing,
// starts up in view of the page, keeps its token, serves the take's still, hears the chosen
// microphone, records at the chosen size and rests while no page drives it.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/fixtures/fifo_writer.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/media_probe.h"
#include "tests/fixtures/studio_fixture.h"
#include "tests/fixtures/studio_process.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TEST_F(StudioProcessTest, StopsWithinTwoSecondsInsideAYieldAndAnswersEveryWaitingCall) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  // An animated skin's preview yields until something stops it; calls behind it run inside it.
  auto preview =
      std::async(std::launch::async, [&] { return studio.Call("LoadSkin", "[42]").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").status, 200) << "answered inside the preview";
  auto waiting = std::async(std::launch::async, [&] { return studio.Call("RecordVideo").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  studio.Signal(SIGTERM);
  EXPECT_TRUE(studio.EndsWithin(std::chrono::seconds(2)));
  for (std::future<int>* call : {&preview, &waiting}) {
    ASSERT_EQ(call->wait_for(std::chrono::seconds(1)), std::future_status::ready);
    const int status = call->get();
    EXPECT_TRUE(status == 200 || status == 503) << status;
  }
}

TEST_F(StudioProcessTest, StopsWithinTwoSecondsWhileTheSettingsAnswerIsSlow) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  server_.slow_delay = std::chrono::seconds(6);
  server_.MisbehaveOnSettings("slow");
  auto settings =
      std::async(std::launch::async, [&] { return studio.Call("LoadClientSettings").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto waiting =
      std::async(std::launch::async, [&] { return studio.Call("ClientStatus?kind=get").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const auto start = Clock::now();
  studio.Signal(SIGTERM);
  EXPECT_TRUE(studio.EndsWithin(std::chrono::seconds(2)))
      << "still running after " << std::chrono::duration<double>(Clock::now() - start).count();
  for (std::future<int>* call : {&settings, &waiting}) {
    ASSERT_EQ(call->wait_for(std::chrono::seconds(1)), std::future_status::ready);
    const int status = call->get();
    EXPECT_TRUE(status == 200 || status == 503) << status;
  }
}

TEST_F(StudioProcessTest, ServesThePageAtOnceAndSaysWhatStartupWaitsFor) {
  server_.slow_delay = std::chrono::seconds(8);
  server_.MisbehaveOnSettings("slow");
  const auto start = Clock::now();
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "listening from its first moment";
  const std::optional<std::string> page = studio.Get("/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->find("<html"), std::string::npos);
  EXPECT_FALSE(studio.FirstEvent("startup", std::chrono::milliseconds(300)))
      << "no control starts before a page drives the studio";
  // A call with no session starts one, as a page's claim does.
  auto answer =
      std::async(std::launch::async, [&] { return studio.Call("ClientStatus?kind=get"); });
  const std::optional<std::string> starting =
      studio.FirstEvent("startup", std::chrono::milliseconds(1000));
  ASSERT_TRUE(starting) << "the page is told that the control is starting";
  EXPECT_NE(starting->find("\"starting\""), std::string::npos) << *starting;
  EXPECT_NE(starting->find("waiting for the greeting server"), std::string::npos)
      << "and what it waits for";
  EXPECT_EQ(starting->find(server_.address()), std::string::npos)
      << "in words, not the server's technical address";

  EXPECT_EQ(answer.get().status, 200) << "a call made during start-up is answered once it ends";
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
  const std::optional<std::string> ended =
      studio.FirstEvent("startup", std::chrono::milliseconds(1000));
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->find("\"starting\""), std::string::npos) << *ended;
}

TEST_F(StudioProcessTest, PlaybackSoundsThroughTheMachinesDefaultOutput) {
  // ALSA's default device pointed at a file, by the user's configuration.
  const fs::path home = fs::path(app_dir_) / "home";
  fs::create_directories(home);
  const std::string heard = (home / "heard.raw").string();
  std::ofstream(home / ".asoundrc") << "pcm.!default { type file; slave.pcm \"null\"; file \""
                                    << heard << "\"; format \"raw\" }\n";
  StudioProcess studio(server_.address(), app_dir_, home.string());
  ASSERT_GT(studio.port, 0);
  auto recording =
      std::async(std::launch::async, [&] { return studio.Call("RecordVideo").status; });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(studio.Call("StopVideo").status, 200);
  ASSERT_EQ(recording.get(), 200);
  EXPECT_EQ(studio.Call("PlayVideo").status, 200);
  for (int i = 0; i < 100 && studio.Call("ClientStatus?kind=get").body != R"({"value":1})"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

  const std::vector<int16_t> recorded = DecodeTracks(app_dir_ + "/Moviletta.avi").sound;
  const std::vector<int16_t> played = ReadRawSamples(heard);
  ASSERT_GT(recorded.size(), 22050u) << "over a second of sound";
  EXPECT_EQ(played, recorded) << "the recording's sound, every sample";
}

TEST_F(StudioProcessTest, AFailedStartupIsSaidAndRetriedFromThePage) {
  int free_port = 0;
  {
    GreetingServerFixture probe;  // a port that nothing listens on once the probe is gone
    free_port = std::stoi(probe.address().substr(probe.address().rfind(':') + 1));
  }
  const std::string address = "http://127.0.0.1:" + std::to_string(free_port);
  StudioProcess studio(address, app_dir_);
  ASSERT_GT(studio.port, 0);
  const auto startup_state = [&] {
    const auto data = studio.FirstEvent("startup", std::chrono::milliseconds(500));
    return data ? nlohmann::json::parse(*data)["state"].get<std::string>() : "";
  };
  EXPECT_NE(studio.Call("ClientStatus?kind=get").body.find("\"number\":70"), std::string::npos)
      << "a control that did not start refuses its page";
  ASSERT_EQ(startup_state(), "failed") << "the greeting server is down";

  GreetingServerFixture server(free_port);
  server.SetSettings(SettingsDocument(server.address()));
  EXPECT_EQ(studio.Post("/restart").status, 202);
  for (int i = 0; i < 100 && startup_state() != "ready"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(startup_state(), "ready");
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":1})");
}

// The launch token is kept for the owner alone, and so is the data folder, also one that an
// earlier install left open to others.
TEST_F(StudioProcessTest, KeepsItsLaunchTokenAcrossRestartsForItsOwnerAloneUntilANewOneIsAsked) {
  fs::permissions(app_dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
  std::string first;
  {
    StudioProcess studio(server_.address(), app_dir_);
    ASSERT_GT(studio.port, 0);
    first = studio.token;
  }
  const fs::path kept = fs::path(app_dir_) / "launch-token";
  ASSERT_TRUE(fs::exists(kept));
  EXPECT_EQ(fs::status(kept).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(app_dir_).permissions() & fs::perms::all, fs::perms::owner_all);
  {
    StudioProcess again(server_.address(), app_dir_);
    ASSERT_GT(again.port, 0);
    EXPECT_EQ(again.token, first) << "an open page and its address work after a restart";
    EXPECT_TRUE(again.Get("/hello"));
  }
  StudioProcess renewed(server_.address(), app_dir_, "", {"--new-token"});
  ASSERT_GT(renewed.port, 0);
  EXPECT_NE(renewed.token, first);
  EXPECT_TRUE(renewed.Get("/hello"));
  renewed.token = first;
  EXPECT_FALSE(renewed.Get("/hello")) << "the old address no longer opens the studio";
}

TEST_F(StudioProcessTest, TellsThePageWhetherTheSkinItAskedForIsOn) {
  server_.SetSettings(SettingsDocument(server_.address(), {{"ANIMPREVIEW", "0"}}));
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  const auto skin_on_becomes = [&](const nlohmann::json& on) {
    for (int i = 0; i < 50; ++i) {
      const auto data = studio.FirstEvent("skin", std::chrono::milliseconds(200));
      if (data && nlohmann::json::parse(*data) == on) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  };
  EXPECT_EQ(studio.Call("LoadSkin", "[42]").status, 200);
  EXPECT_TRUE(skin_on_becomes({{"on", true}, {"id", 42}})) << "the cached skin is on";
  EXPECT_EQ(studio.Call("LoadSkin", "[999]").body, R"({"value":null})")
      << "a skin the greeting server does not have fails without a word from the control";
  EXPECT_TRUE(skin_on_becomes({{"on", false}, {"id", nullptr}}))
      << "but the page learns that no skin is on";
}

TEST_F(StudioProcessTest, ServesTheStillOfTheLastRecordingForItsReview) {
  server_.SetSettings(SettingsDocument(server_.address(), {{"SECLIMIT", "1"}}));
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_FALSE(studio.Get("/take/snapshot")) << "nothing recorded yet";
  EXPECT_EQ(studio.Call("RecordVideo").status, 200);
  const std::optional<std::string> still = studio.Get("/take/snapshot");
  ASSERT_TRUE(still);
  EXPECT_TRUE(still->starts_with("\xFF\xD8")) << "a JPEG";
  for (int i = 0; i < 50 && studio.Call("ClientStatus?kind=get").body != R"({"value":1})"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::optional<std::string> trimmed_start = studio.Get("/take/snapshot?from=0.5");
  ASSERT_TRUE(trimmed_start) << "the picture at a trim's start";
  EXPECT_TRUE(trimmed_start->starts_with("\xFF\xD8"));
  for (const char* wrong : {"nan", "0.5x", ""})
    EXPECT_FALSE(studio.Get(std::string("/take/snapshot?from=") + wrong)) << wrong;
  studio.token = "0123456789abcdef0123456789abcdef";
  EXPECT_FALSE(studio.Get("/take/snapshot")) << "for the studio's pages only";
  EXPECT_FALSE(studio.Get("/take/snapshot?from=0.5"));
}

// A microphone of the user's ALSA configuration (a capture device reading a FIFO: a tone of
// -12 dBFS for 3 s, then silence) is listed by its description, chosen, and its level is what
// the pages are told, with the test picture (no camera here).
TEST_F(StudioProcessTest, AChosenMicrophoneIsListedAndItsLevelIsTold) {
  const fs::path home = fs::path(app_dir_) / "home";
  fs::create_directories(home);
  const fs::path fifo = home / "microphone";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(home / ".asoundrc")
      << "pcm.testmic { type file; slave.pcm \"null\"; file \"/dev/null\"; infile \""
      << fifo.string()
      << "\"; format \"raw\"; hint { show on; description \"Test microphone\" } }\n";
  constexpr int kRate = 48000;  // what FFmpeg asks of an ALSA device: 48 kHz stereo 16-bit
  const auto opened = Clock::now();
  int64_t written = 0;
  FifoWriter microphone(fifo, [&](int fd) {
    const int64_t due =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - opened).count() *
            kRate / 1000 +
        kRate / 10;
    std::vector<int16_t> stereo;
    for (; written < due; ++written) {
      const bool tone = written < 3 * kRate;
      const auto v =
          static_cast<int16_t>(tone ? 8192 * std::sin(2 * M_PI * 440.0 * written / kRate) : 0);
      stereo.push_back(v), stereo.push_back(v);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return WriteAll(fd, stereo.data(), stereo.size() * sizeof(int16_t));
  });

  StudioProcess studio(server_.address(), app_dir_, home.string());
  ASSERT_GT(studio.port, 0);
  const nlohmann::json devices = nlohmann::json::parse(studio.Get("/devices").value_or("null"));
  EXPECT_EQ(devices["cameras"][0]["name"], "Test picture");
  ASSERT_TRUE(devices["microphones"].is_array());
  EXPECT_NE(
      std::ranges::find(devices["microphones"],
                        nlohmann::json{{"device", "testmic"}, {"description", "Test microphone"}}),
      devices["microphones"].end())
      << devices;
  EXPECT_EQ(studio.Post("/devices", R"({"microphone": "nowhere"})").status, 400);
  EXPECT_EQ(studio.Post("/devices", R"({"microphone": "testmic"})").status, 204);
  EXPECT_EQ(studio.Post("/claim?page=p1").status, 204);
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":1})");

  std::optional<double> tone, silence;
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  while ((!tone || !silence) && Clock::now() < deadline) {
    const std::optional<std::string> level = studio.FirstEvent("level", std::chrono::seconds(2));
    if (!level) continue;
    const double peak = nlohmann::json::parse(*level)["peak"];
    if (!tone && peak > -40) tone = peak;
    if (tone && peak < -50) silence = peak;
  }
  ASSERT_TRUE(tone) << "no level of the tone was told";
  EXPECT_NEAR(*tone, -12.0, 3.0);
  EXPECT_TRUE(silence) << "the silence after it was not told";
}

// The test picture chosen at 1280 x 720: the recording is made at that size, the mailed greeting
// at the settings' 320 x 240.
TEST_F(StudioProcessTest, ARecordingAtTheChosenSizeIsMailedAtTheSettingsSize) {
  MailDrop drop({"--password", "secret"});
  server_.SetSettings(
      SettingsDocument(server_.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", drop.host()}}));
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_EQ(studio.Post("/devices", R"({"camera": "synthetic", "size": [1280, 720]})").status, 204);
  EXPECT_EQ(studio.Post("/devices", R"({"camera": "synthetic", "size": [1920, 1080]})").status,
            400);
  EXPECT_EQ(studio.Post("/claim?page=p1").status, 204);
  EXPECT_EQ(studio.Call("RecordVideo").status, 200);
  for (int i = 0; i < 50 && studio.Call("ClientStatus?kind=get").body != R"({"value":1})"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The camera's wide picture loses its sides to the greeting's 4:3, once, before anything sees it.
  const MediaInfo recorded = Probe(app_dir_ + "/Moviletta.avi");
  EXPECT_EQ(std::pair(recorded.width, recorded.height), std::pair(960, 720));

  EXPECT_EQ(
      studio.Call("SendByEmail", R"(["Ann", "ann@a.test", "Bob", "+41 555 0001", "", "in HD"])")
          .status,
      200);
  const std::optional<std::string> mail = drop.WaitForMail(1, std::chrono::seconds(30));
  ASSERT_TRUE(mail) << studio.StateAs(studio.own());
  const MediaInfo mailed = Probe(*mail + ".parts/Moviletta.mpg");
  EXPECT_EQ(std::pair(mailed.width, mailed.height), std::pair(320, 240));
  EXPECT_GE(mailed.video_seconds, 0.9);
  const auto [across, down] = BoxSides(DecodePicture(*mail + ".parts/Moviletta.mpg", 5));
  EXPECT_NEAR(across, 30, 2) << "the picture's square is a square in the mailed greeting";
  EXPECT_NEAR(down, 30, 2);
  const std::optional<std::string> still = studio.Get("/take/snapshot");
  ASSERT_TRUE(still);
  std::ofstream(app_dir_ + "/still.jpg", std::ios::binary) << *still;
  const auto [still_across, still_down] = BoxSides(DecodePicture(app_dir_ + "/still.jpg", 0));
  EXPECT_GT(still_across, 0);
  EXPECT_NEAR(still_across, still_down, 2) << "and in the review's still";
}

// A send cancelled while its mail server holds it: the call answers at once, the mail never
// arrives, and the studio goes on.
TEST_F(StudioProcessTest, ACancelledMailNeverArrivesAndTheStudioGoesOn) {
  const std::string hold = app_dir_ + "/hold";
  std::ofstream(hold) << "";
  MailDrop drop({"--password", "secret", "--hold-while", hold});
  server_.SetSettings(
      SettingsDocument(server_.address(), {{"SECLIMIT", "1"}, {"SMTPHOST", drop.host()}}));
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_EQ(studio.Call("CancelSend").body, R"({"value":false})") << "nothing to cancel";
  EXPECT_EQ(studio.Call("RecordVideo").status, 200);
  const auto status_becomes = [&](const char* status) {
    for (int i = 0; i < 100 && studio.Call("ClientStatus?kind=get").body != status; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return studio.Call("ClientStatus?kind=get").body == status;
  };
  ASSERT_TRUE(status_becomes(R"({"value":1})"));
  EXPECT_EQ(studio.Call("SendByEmail", R"(["Ann", "ann@a.test", "Bob", "+41 555 0001", "", "hi"])")
                .status,
            200);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the mail waits for its server
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(studio.Call("CancelSend").body, R"({"value":true})");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
  std::filesystem::remove(hold);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(drop.Count(), 0) << "the cancelled mail arrived";
  EXPECT_EQ(studio.Call("OutboxList").body, R"({"value":"[]"})") << "and is not kept";
  EXPECT_EQ(studio.Call("SendByEmail", R"(["Ann", "ann@a.test", "Bob", "+41 555 0001", "", "hi"])")
                .status,
            200);
  EXPECT_TRUE(drop.WaitForMail(1, std::chrono::seconds(30))) << "the take goes after all";
}

// A pause holds the recording without ending it: the take is one file of the recorded time, and
// the time limit counts only that.
TEST_F(StudioProcessTest, APausedRecordingIsOneTakeWhoseLimitCountsRecordedTime) {
  server_.SetSettings(SettingsDocument(server_.address(), {{"SECLIMIT", "2"}}));
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_NE(studio.Call("PauseVideo").body.find("\"number\":5"), std::string::npos)
      << "nothing to pause";
  EXPECT_EQ(studio.Call("RecordVideo").status, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(studio.Call("PauseVideo").body, R"({"value":null})");
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":3})")
      << "the limit passed in wall time, not in recorded time";
  EXPECT_EQ(studio.Call("ResumeVideo").body, R"({"value":null})");
  for (int i = 0; i < 50 && studio.Call("ClientStatus?kind=get").body != R"({"value":1})"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":1})") << "the limit ends it";
  const MediaInfo take = Probe(app_dir_ + "/Moviletta.avi");
  EXPECT_NEAR(take.video_seconds, 2.0, 0.15);
  EXPECT_NEAR(double(take.audio_samples) / take.sample_rate, take.video_seconds, 0.1);
}

TEST_F(StudioProcessTest, WithNoPageDrivingItTheCameraIsClosedAndTheStudioRests) {
  StudioProcess studio(server_.address(), app_dir_);
  ASSERT_GT(studio.port, 0);
  EXPECT_TRUE(studio.Get("/hello"));  // the server's threads have all started
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int resting = studio.Threads();
  EXPECT_EQ(studio.Post("/claim?page=p1").status, 204);
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":1})");
  EXPECT_GT(studio.Threads(), resting) << "the session's camera and engines run";

  EXPECT_EQ(studio.Post("/release?page=p1").status, 204);
  for (int i = 0; i < 100 && studio.Threads() > resting; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(studio.Threads(), resting) << "the session ended 5 s after its page let go";
  const auto before = studio.CpuTime();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  EXPECT_LT((studio.CpuTime() - before).count(), 0.1) << "the studio rests";

  const auto claimed = Clock::now();
  EXPECT_EQ(studio.Post("/claim?page=p2").status, 204);
  EXPECT_EQ(studio.Call("RecordVideo").status, 200);
  EXPECT_LT(Clock::now() - claimed, std::chrono::seconds(1)) << "a page records again at once";
  EXPECT_EQ(studio.Call("ClientStatus?kind=get").body, R"({"value":3})");
}

TEST(StudioCommandLine, HelpAndVersionAnswerAndAMistakeStartsNothing) {
  const auto run = [](const std::string& args) {
    FILE* out = popen((std::string(MOVILETTA_STUDIO_BINARY) + " " + args + " 2>&1").c_str(), "r");
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
    const int status = pclose(out);
    return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  };
  const auto [help_status, help] = run("--help");
  EXPECT_EQ(help_status, 0);
  EXPECT_NE(help.find("--new-token"), std::string::npos) << help;
  EXPECT_EQ(help.find("Moviletta studio: http"), std::string::npos) << "nothing was started";
  const auto [version_status, version] = run("--version");
  EXPECT_EQ(version_status, 0);
  EXPECT_TRUE(version.starts_with("moviletta-studio ")) << version;
  for (const char* mistake : {"--bogus", "--port", "--port nine", "stray", "--app-dir ''"}) {
    const auto [status, said] = run(mistake);
    EXPECT_EQ(status, 2) << mistake;
    EXPECT_NE(said.find("Usage:"), std::string::npos) << mistake << ": " << said;
    EXPECT_EQ(said.find("Moviletta studio: http"), std::string::npos) << mistake;
  }
  // The command-line host, too: an empty application folder is a mistake, not a crash.
  FILE* cli = popen(MOVILETTA_CLI_BINARY " --app-dir '' --server http://127.0.0.1:1 2>&1", "r");
  char sink[4096];
  while (fread(sink, 1, sizeof sink, cli) > 0) {
  }
  const int cli_status = pclose(cli);
  EXPECT_EQ(WIFEXITED(cli_status) ? WEXITSTATUS(cli_status) : -1, 2);
}

}  // namespace
}  // namespace moviletta::testing
