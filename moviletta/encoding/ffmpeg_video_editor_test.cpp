// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/encoding/ffmpeg_video_editor.h"
#include "moviletta/encoding/editor_testing.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/media_probe.h"
#include "tests/fixtures/recordings.h"
#include "tests/fixtures/thread_limit.h"
#include "tests/fixtures/unprivileged.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class VideoEditorTest : public ::testing::Test {
 protected:
  VideoEditorTest() {
    fs::create_directories(folder_);
    editor_.OnProcessing([this](EditJobId job, double done, double total) {
      std::lock_guard lock(mutex_);
      EXPECT_EQ(job, job_);
      if (throw_in_progress_) throw std::runtime_error("a listener that throws");
      progress_.emplace_back(done, total);
    });
    editor_.OnComplete([this](EditJobId job) { End(job, std::nullopt); });
    editor_.OnFailed([this](EditJobId job, Error failure) { End(job, std::move(failure)); });
  }
  ~VideoEditorTest() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  // Compresses `input` from `start` to `end` (0: its end) as the control does and waits for the
  // job's end; returns its failure.
  std::optional<Error> Compress(const std::string& input, const std::string& output, int format,
                                int fps, double start = 0, double end = 0) {
    editor_.SetOutputFormat(format);
    editor_.SetOutputFrameRate(fps);
    editor_.InitEditor();
    const double to = end > 0 ? end : editor_.GetClipDuration(input);
    editor_.AddVideoClip(input, start, to, 0);
    editor_.AddAudioClip(input, start, to);
    std::unique_lock lock(mutex_);
    job_ = editor_.SaveOutputFile(output);
    EXPECT_TRUE(ended_.wait_for(lock, std::chrono::seconds(60), [&] { return !ends_.empty(); }));
    return ends_.empty() ? std::nullopt : ends_.back();
  }
  // The editor compresses `input` ahead with the settings of a Compress(format, fps).
  void CompressAhead(const std::string& input, int format, int fps) {
    editor_.SetOutputFormat(format);
    editor_.SetOutputFrameRate(fps);
    editor_.CompressAhead(input);
  }
  void WaitUntilAheadIsReady() {
    for (int i = 0; i < 600 && EditorTesting::Running(editor_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(EditorTesting::Ready(editor_));
  }
  void Forget() {
    ends_.clear();
    progress_.clear();
  }
  // The private files of work ahead, beside the recordings; none in the shared temporary folder.
  std::vector<std::string> AheadFiles() const {
    std::vector<std::string> found;
    const std::string mine = "moviletta-ahead-" + std::to_string(getpid()) + "-";
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
      if (entry.path().filename().string().find(mine) != std::string::npos)
        ADD_FAILURE() << "work ahead in the shared temporary folder: " << entry.path();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_ / VideoEditor::kAheadFolder, ec)) {
      EXPECT_EQ(fs::status(folder_ / VideoEditor::kAheadFolder).permissions() & fs::perms::all,
                fs::perms::owner_all);
      found.push_back(entry.path().string());
    }
    return found;
  }
  // In a process of its own: jobs on a machine out of threads, then with threads again.
  [[noreturn]] void CompressOutOfThreads() {
    GiveToTheUnprivilegedUser(folder_.string());
    GiveToTheUnprivilegedUser(Path("take.avi"));  // a recording is its owner's alone
    AllowMoreThreads(0);
    CompressAhead(Path("take.avi"), kOutputFormatMpeg, 15);
    EXPECT_TRUE(EditorTesting::None(editor_)) << "nothing waits";
    editor_.InitEditor();
    editor_.AddVideoClip(Path("take.avi"), 0, 1, 0);
    EXPECT_THROW(editor_.SaveOutputFile(Path("none.mpg")), Error);

    AllowMoreThreads(1);  // the job's own thread, none for its pipeline
    const std::optional<Error> failure =
        Compress(Path("take.avi"), Path("first.mpg"), kOutputFormatMpeg, 15);
    EXPECT_TRUE(failure.has_value());
    if (failure) {
      EXPECT_NE(failure->description().find("cannot start"), std::string::npos)
          << failure->description();
    }
    EXPECT_FALSE(fs::exists(Path("first.mpg")));

    AllowMoreThreads(64);
    Forget();
    EXPECT_EQ(Compress(Path("take.avi"), Path("second.mpg"), kOutputFormatMpeg, 15), std::nullopt);
    EXPECT_TRUE(fs::exists(Path("second.mpg")));
    fs::remove_all(folder_);
    std::exit(HasFailure() ? 1 : 0);
  }
  // A job that fails at once may end before SaveOutputFile has returned its id: the id is read
  // under the lock that the caller holds until it has kept it.
  void End(EditJobId job, std::optional<Error> failure) {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(job, job_);
    ends_.push_back(std::move(failure));
    ended_.notify_all();
  }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-editor-" + std::to_string(getpid()));
  FfmpegVideoEditor editor_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<std::optional<Error>> ends_;
  std::vector<std::pair<double, double>> progress_;
  EditJobId job_ = 0;
  bool throw_in_progress_ = false;
};

TEST_F(VideoEditorTest, WritesWindowsMediaWithWmv2AndWma2) {
  MakeRecording(Path("take.avi"), 3, 320, 240, 15);
  ASSERT_EQ(Compress(Path("take.avi"), Path("out.wmv"), kOutputFormatWmv, 15), std::nullopt);
  const MediaInfo out = Probe(Path("out.wmv"));
  EXPECT_EQ(out.container, "asf");
  EXPECT_EQ(out.video_codec, "wmv2");
  EXPECT_EQ(out.audio_codec, "wmav2");
  EXPECT_EQ(out.width, 320);
  EXPECT_EQ(out.height, 240);
  EXPECT_NEAR(out.video_frames, 45, 1) << "within a frame of the input's length";
  EXPECT_NEAR(out.audio_samples, 3 * 22050, 2048 + 1) << "sound as long as the pictures";
  EXPECT_EQ(ends_.size(), 1u);
  ASSERT_FALSE(progress_.empty());
  for (std::size_t i = 1; i < progress_.size(); ++i)
    EXPECT_GE(progress_[i].first, progress_[i - 1].first);
  EXPECT_DOUBLE_EQ(progress_.back().first, progress_.back().second);
  EXPECT_FALSE(fs::exists(Path(".out.wmv.part")));

  // The colours survive the trip from the recording's full range to the encoder's.
  const Bitmap in = DecodePicture(Path("take.avi"), 20),
               out_picture = DecodePicture(Path("out.wmv"), 20);
  for (int x : {20, 60, 100, 140, 180, 220, 260, 300})
    EXPECT_LT(PixelDistance(in, x, 40, out_picture, x, 40), 10) << "at x " << x;
}

// A machine out of threads: each job that cannot start its threads fails as a job does, nothing
// ends the process, and the editor takes the next job once threads can start again.
TEST_F(VideoEditorTest, AJobThatCannotStartItsThreadsFailsAndTheNextOneRuns) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  MakeRecording(Path("take.avi"), 1, 160, 120, 15);
  EXPECT_EXIT(CompressOutOfThreads(), ::testing::ExitedWithCode(0), "");
}

TEST_F(VideoEditorTest, WritesMpegProgramStreamsMpeg2Where15FpsNeedsIt) {
  MakeRecording(Path("take15.avi"), 2, 320, 240, 15);
  editor_.SetAudioSampleRate(44100);
  editor_.SetAudioBitRate(128000);
  editor_.SetOutputWidth(352);
  editor_.SetOutputHeight(288);
  ASSERT_EQ(Compress(Path("take15.avi"), Path("out15.mpg"), kOutputFormatMpeg, 15), std::nullopt);
  MediaInfo out = Probe(Path("out15.mpg"));
  EXPECT_EQ(out.container, "mpeg");
  EXPECT_EQ(out.video_codec, "mpeg2video");
  EXPECT_EQ(out.audio_codec, "mp2");
  EXPECT_EQ(out.sample_rate, 44100);
  EXPECT_EQ(out.width, 352);
  EXPECT_EQ(out.height, 288);
  EXPECT_NEAR(out.fps, 15, 0.01);
  EXPECT_NEAR(out.video_frames, 30, 1);
  EXPECT_NEAR(out.audio_samples, 2 * 44100, 1152 + 1);

  MakeRecording(Path("take25.avi"), 2, 320, 240, 25);
  ends_.clear();
  ASSERT_EQ(Compress(Path("take25.avi"), Path("out25.mpg"), kOutputFormatMpeg, 25), std::nullopt);
  out = Probe(Path("out25.mpg"));
  EXPECT_EQ(out.video_codec, "mpeg1video");
  EXPECT_NEAR(out.video_frames, 50, 1);
}

TEST_F(VideoEditorTest, ABrokenInputOrAFullDiskFailsWithoutAFinalFile) {
  EXPECT_THROW(editor_.GetClipDuration(Path("missing.avi")), Error);
  MakeRecording(Path("take.avi"), 2, 320, 240, 15);
  {
    std::ofstream garbage(Path("garbage.avi"), std::ios::binary);
    garbage << "RIFF, but nothing a demuxer could read";
  }
  editor_.SetOutputFormat(kOutputFormatWmv);
  editor_.AddVideoClip(Path("garbage.avi"), 0, 2, 0);
  {
    std::unique_lock lock(mutex_);
    job_ = editor_.SaveOutputFile(Path("out.wmv"));
    ASSERT_TRUE(ended_.wait_for(lock, std::chrono::seconds(10), [&] { return !ends_.empty(); }));
  }
  EXPECT_TRUE(ends_.back().has_value());
  EXPECT_FALSE(fs::exists(Path("out.wmv")));

  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit original = limit;
  limit.rlim_cur = 16 * 1024;  // a file size limit stands in for a full disk
  ends_.clear();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::optional<Error> full =
      Compress(Path("take.avi"), Path("full.wmv"), kOutputFormatWmv, 15);
  setrlimit(RLIMIT_FSIZE, &original);
  EXPECT_TRUE(full.has_value()) << "a full disk must fail the job";
  EXPECT_FALSE(fs::exists(Path("full.wmv")));
  EXPECT_FALSE(fs::exists(Path(".full.wmv.part")));
}

TEST_F(VideoEditorTest, AThrowingProgressListenerFailsTheJobInsteadOfTheProcess) {
  MakeRecording(Path("take.avi"), 1, 160, 120, 15);
  throw_in_progress_ = true;
  const std::optional<Error> failure =
      Compress(Path("take.avi"), Path("out.wmv"), kOutputFormatWmv, 15);
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->description().find("a listener that throws"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("out.wmv")));
}

TEST_F(VideoEditorTest, AClipThatStartsLaterTakesItsSoundFromTheSameMoment) {
  // Two seconds of pictures with a second of silence and then a second of a loud tone.
  const std::string make =
      "ffmpeg -v error -y -f lavfi -i testsrc=s=160x120:r=15:d=2 -f lavfi -i "
      "\"aevalsrc='if(gte(t,1),0.5*sin(2*PI*440*t),0)':s=22050:d=2\" -c:v mjpeg -c:a pcm_s16le "
      "-shortest " +
      Path("tone.avi");
  ASSERT_EQ(std::system(make.c_str()), 0);
  ASSERT_EQ(Compress(Path("tone.avi"), Path("late.mpg"), kOutputFormatMpeg, 15, 1.0), std::nullopt);
  const Tracks tracks = DecodeTracks(Path("late.mpg"));
  ASSERT_GT(tracks.sound.size(), 6000u);
  double loudness = 0;
  for (std::size_t i = 2000; i < 6000; ++i) loudness += std::abs(tracks.sound[i]);
  EXPECT_GT(loudness / 4000, 3000) << "the tone of the clip's second, not the silence before it";
}

// Work done ahead gives the very file the job would write, with the same notifications, whether
// it had finished or was still running; a changed setting or a new recording starts afresh; the
// private file never shows beside the output and never outlives the editor.
TEST_F(VideoEditorTest, WorkAheadGivesTheSameFileAndAnyChangeStartsAfresh) {
  MakeRecording(Path("take.avi"), 6, 640, 480, 30);
  ASSERT_EQ(Compress(Path("take.avi"), Path("plain.wmv"), kOutputFormatWmv, 30), std::nullopt);
  const std::string plain = ReadFile(Path("plain.wmv"));

  Forget();
  CompressAhead(Path("take.avi"), kOutputFormatWmv, 30);
  WaitUntilAheadIsReady();
  EXPECT_EQ(AheadFiles().size(), 1u);
  ASSERT_EQ(Compress(Path("take.avi"), Path("ready.wmv"), kOutputFormatWmv, 30), std::nullopt);
  EXPECT_TRUE(ReadFile(Path("ready.wmv")) == plain);
  ASSERT_EQ(progress_.size(), 1u) << "finished work tells its 100 % once";
  EXPECT_EQ(progress_[0].first, progress_[0].second);
  EXPECT_TRUE(AheadFiles().empty()) << "moved into place";

  Forget();
  CompressAhead(Path("take.avi"), kOutputFormatWmv, 30);
  EXPECT_TRUE(EditorTesting::Running(editor_));
  ASSERT_EQ(Compress(Path("take.avi"), Path("running.wmv"), kOutputFormatWmv, 30), std::nullopt);
  EXPECT_TRUE(ReadFile(Path("running.wmv")) == plain);
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.back().first, progress_.back().second);
  EXPECT_EQ(ends_.size(), 1u) << "one job, one end";

  Forget();
  CompressAhead(Path("take.avi"), kOutputFormatWmv, 30);
  WaitUntilAheadIsReady();
  ASSERT_EQ(Compress(Path("take.avi"), Path("slow.wmv"), kOutputFormatWmv, 10), std::nullopt);
  EXPECT_NEAR(Probe(Path("slow.wmv")).video_frames, 60, 1) << "the job's own frame rate";

  Forget();
  CompressAhead(Path("take.avi"), kOutputFormatWmv, 30);
  WaitUntilAheadIsReady();
  MakeRecording(Path("take.avi"), 2, 640, 480, 30);
  ASSERT_EQ(Compress(Path("take.avi"), Path("new.wmv"), kOutputFormatWmv, 30), std::nullopt);
  EXPECT_NEAR(Probe(Path("new.wmv")).video_frames, 60, 1) << "the new recording";

  CompressAhead(Path("take.avi"), kOutputFormatWmv, 30);
  editor_.ForgetAhead();
  EXPECT_TRUE(EditorTesting::None(editor_));
  {
    FfmpegVideoEditor leaving;
    leaving.SetOutputFormat(kOutputFormatWmv);
    leaving.CompressAhead(Path("take.avi"));
  }
  EXPECT_TRUE(AheadFiles().empty());
  for (const auto& entry : fs::directory_iterator(folder_))
    EXPECT_EQ(entry.path().extension() == ".part", false) << entry.path();
}

// Work ahead of a part of the take serves a job of that part, and only that part.
TEST_F(VideoEditorTest, WorkAheadOfATrimmedTakeServesThatPartOnly) {
  MakeRecording(Path("take.avi"), 4, 320, 240, 15);
  editor_.SetOutputFormat(kOutputFormatWmv);
  editor_.SetOutputFrameRate(15);
  editor_.CompressAhead(Path("take.avi"));
  ASSERT_TRUE(EditorTesting::Running(editor_));
  editor_.CompressAhead(Path("take.avi"), 1.0, 2.5);  // trimmed while the whole take compresses
  WaitUntilAheadIsReady();
  ASSERT_EQ(AheadFiles().size(), 1u) << "the whole take's work is dropped";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto asked = fs::file_time_type::clock::now();
  ASSERT_EQ(Compress(Path("take.avi"), Path("part.wmv"), kOutputFormatWmv, 15, 1.0, 2.5),
            std::nullopt);
  EXPECT_LT(fs::last_write_time(Path("part.wmv")), asked) << "the work ahead, written before";
  EXPECT_NEAR(Probe(Path("part.wmv")).video_seconds, 1.5, 1.0 / 15);

  Forget();
  editor_.CompressAhead(Path("take.avi"), 1.0, 2.5);
  WaitUntilAheadIsReady();
  ASSERT_EQ(Compress(Path("take.avi"), Path("whole.wmv"), kOutputFormatWmv, 15), std::nullopt);
  EXPECT_NEAR(Probe(Path("whole.wmv")).video_seconds, 4, 1.0 / 15) << "compressed afresh, whole";
}

TEST_F(VideoEditorTest, RefusesJobsItCannotRun) {
  EXPECT_THROW(editor_.SaveOutputFile(Path("x.wmv")), Error) << "no format";
  editor_.SetOutputFormat(kOutputFormatWmv);
  EXPECT_THROW(editor_.SaveOutputFile(Path("x.wmv")), Error) << "no clip";
  editor_.AddVideoClip(Path("a.avi"), 0, 2, 0);
  editor_.AddAudioClip(Path("b.avi"), 0, 2);
  EXPECT_THROW(editor_.SaveOutputFile(Path("x.wmv")), Error) << "sound from another file";
  EXPECT_THROW(editor_.SetOutputFrameRate(1000000), Error) << "a bit rate beyond any encoder";
}

}  // namespace
}  // namespace moviletta::testing
