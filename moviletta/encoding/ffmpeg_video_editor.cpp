// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/encoding/ffmpeg_video_editor.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "moviletta/common/constants.h"
#include "moviletta/common/file_identity.h"
#include "moviletta/common/file_write.h"
#include "moviletta/common/start_thread.h"
#include "moviletta/ffmpeg/handles.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSource = "Moviletta.VideoEditor";
constexpr int kAheadNiceness = 19;

// Moves `from` to `to`, copying where a rename cannot (another file system): `to` appears whole.
void MoveFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return;
  const fs::path partial = PartialPath(to);
  try {
    fs::copy_file(from, partial, fs::copy_options::overwrite_existing);
    fs::rename(partial, to);
  } catch (const fs::filesystem_error& e) {
    fs::remove(partial, ec);
    throw Error(err::kPathFileAccess, "cannot write " + to.string() + ": " + e.what(), kSource);
  }
  fs::remove(from, ec);
}

}  // namespace

FfmpegVideoEditor::~FfmpegVideoEditor() {
  cancel_ = true;
  JoinThread();
  ForgetAhead();
}

void FfmpegVideoEditor::OnProcessing(std::function<void(EditJobId, double, double)> processing) {
  processing_.Set(std::move(processing));
}

void FfmpegVideoEditor::OnComplete(std::function<void(EditJobId)> complete) {
  complete_.Set(std::move(complete));
}

void FfmpegVideoEditor::OnFailed(std::function<void(EditJobId, Error)> failed) {
  failed_.Set(std::move(failed));
}

void FfmpegVideoEditor::SetOutputFrameRate(int32_t fps) {
  if (fps < 0 || fps > kMaxFrameRate)
    throw Error(err::kInvalidArgument, "frame rate " + std::to_string(fps), kSource);
  output_settings_.fps = fps;
}

void FfmpegVideoEditor::InitEditor() {
  video_.reset();
  audio_.reset();
}

double FfmpegVideoEditor::GetClipDuration(const std::string& path) {
  const ffmpeg::InputContext input = ffmpeg::OpenInput(path, kSource);
  const AVFormatContext* raw = input.get();
  if (raw->duration == AV_NOPTS_VALUE || raw->duration <= 0)
    throw Error(err::kComponentFailed, "the length of " + path + " is unknown", kSource);
  return static_cast<double>(raw->duration) / AV_TIME_BASE;
}

void FfmpegVideoEditor::AddVideoClip(const std::string& path, double start, double end, int16_t) {
  video_ = Clip{path, start, end};
}

void FfmpegVideoEditor::AddAudioClip(const std::string& path, double start, double end) {
  audio_ = Clip{path, start, end};
}

bool FfmpegVideoEditor::WritesFormat() const {
  return output_settings_.format == kOutputFormatMpeg ||
         output_settings_.format == kOutputFormatWmv;
}

EditJobId FfmpegVideoEditor::SaveOutputFile(const std::string& path) {
  if (running_) throw Error(err::kComponentFailed, "a compression is running", kSource);
  if (!WritesFormat()) throw Error(err::kInvalidArgument, "no output format is set", kSource);
  if (!video_) throw Error(err::kInvalidArgument, "no video clip was added", kSource);
  if (audio_ && (audio_->path != video_->path || audio_->start != video_->start ||
                 audio_->end != video_->end))
    throw Error(err::kInvalidArgument,
                "pictures and sound must come from the same span of one file", kSource);

  TranscodeJob job = output_settings_;
  job.input = video_->path;
  job.start = video_->start;
  job.end = video_->end;
  job.output = path;
  running_ = true;
  const EditJobId id = ++last_job_;
  try {
    if (TakeOver(job, id)) return id;
    ForgetAhead();
    StartJob(std::move(job), nullptr, id);
  } catch (...) {
    running_ = false;  // no job runs: the next one is taken
    throw;
  }
  return id;
}

void FfmpegVideoEditor::CompressAhead(const std::string& path, double start, double end) {
  ForgetAhead();
  if (running_ || !WritesFormat()) return;
  auto ahead = std::make_shared<AheadWork>();
  try {
    ahead->identity = FileIdentity(path);
    ahead->job = output_settings_;
    ahead->job.input = path;
    ahead->job.start = start;
    ahead->job.end = end > 0 ? end : GetClipDuration(path);
    // Beside the recording: the visitor's own folder, and the same file system, so that a send
    // that takes the work moves it with a rename.
    const fs::path folder = fs::path(path).parent_path() / kAheadFolder;
    MakeOwnFolder(folder, kSource);
    static std::atomic<uint64_t> files{0};
    ahead->job.output =
        (folder / ("moviletta-ahead-" + std::to_string(getpid()) + "-" + std::to_string(++files)))
            .string();
  } catch (...) {
    return;  // a recording that cannot be read now is compressed when it is asked for
  }
  {
    MutexLock lock(mutex_);
    ahead_ = ahead;
  }
  try {
    StartJob(ahead->job, ahead, 0);
  } catch (const Error&) {  // no thread to spare: compressed when it is asked for
    MutexLock lock(mutex_);
    ahead_.reset();
  }
}

FfmpegVideoEditor::Ahead FfmpegVideoEditor::AheadState() {
  MutexLock lock(mutex_);
  if (!ahead_ || ahead_->taken_by || ahead_->failure) return Ahead::kNone;
  return ahead_->ended ? Ahead::kReady : Ahead::kRunning;
}

void FfmpegVideoEditor::ForgetAhead() {
  std::shared_ptr<AheadWork> ahead;
  {
    MutexLock lock(mutex_);
    if (!ahead_ || ahead_->taken_by) return;
    ahead = std::move(ahead_);
  }
  cancel_ = true;  // the job thread runs this work, if anything
  JoinThread();
  std::error_code ignored;
  fs::remove(ahead->job.output, ignored);
}

bool FfmpegVideoEditor::TakeOver(const TranscodeJob& wanted, EditJobId id) {
  const std::string identity = FileIdentity(wanted.input);
  std::shared_ptr<AheadWork> ahead;
  {
    MutexLock lock(mutex_);
    if (!ahead_ || ahead_->failure || ahead_->identity != identity || !ahead_->job.SameWork(wanted))
      return false;
    ahead_->taken_by = id;
    ahead_->output = wanted.output;
    if (!ahead_->ended) return true;  // the job thread finishes it
    ahead = ahead_;
  }
  JoinThread();
  worker_ = StartThread(
      [this, ahead, id] {
        const double length = ahead->job.end - ahead->job.start;
        try {
          processing_(id, length, length);
        } catch (...) {  // the progress is not the job's outcome
        }
        Finish(id, std::nullopt, ahead);
      },
      "the compression", kSource);
  return true;
}

void FfmpegVideoEditor::StartJob(TranscodeJob work, std::shared_ptr<AheadWork> ahead,
                                 EditJobId id) {
  JoinThread();
  cancel_ = false;
  worker_ = StartThread(
      [this, work = std::move(work), ahead = std::move(ahead), id] {
        std::optional<Error> failure;
        const auto taken_by = [&] {
          MutexLock lock(mutex_);
          return ahead->taken_by;
        };
        try {
          // Work ahead yields to everything else on the machine (on Linux this thread only, and
          // the threads it starts).
          if (ahead) setpriority(PRIO_PROCESS, 0, kAheadNiceness);
          Transcode(work, cancel_, [&](double done, double total) {
            if (const EditJobId job = ahead ? taken_by() : id) processing_(job, done, total);
          });
        } catch (...) {
          failure = Error::FromCurrent();
        }
        EditJobId job = id;
        if (ahead) {
          MutexLock lock(mutex_);
          ahead->ended = true;
          ahead->failure = failure;
          job = ahead->taken_by;
        }
        if (job && !cancel_) Finish(job, std::move(failure), ahead);
      },
      "the compression", kSource);
}

void FfmpegVideoEditor::Finish(EditJobId id, std::optional<Error> failure,
                               const std::shared_ptr<AheadWork>& ahead) {
  if (ahead) {
    if (!failure) {
      try {
        MoveFile(ahead->job.output, ahead->output);
      } catch (...) {
        failure = Error::FromCurrent();
      }
    }
    MutexLock lock(mutex_);
    if (ahead_ == ahead) ahead_.reset();
  }
  running_ = false;
  try {
    if (failure)
      failed_(id, *failure);
    else
      complete_(id);
  } catch (...) {  // a notification that cannot be told has nowhere else to go
  }
}

void FfmpegVideoEditor::JoinThread() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace moviletta
