#include "moviletta/encoding/ffmpeg_video_editor.h"

#include "moviletta/common/constants.h"
#include "moviletta/ffmpeg/handles.h"

namespace moviletta {
namespace {
constexpr const char* kSource = "Moviletta.VideoEditor";
}

FfmpegVideoEditor::~FfmpegVideoEditor() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
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
  job_.fps = fps;
}

void FfmpegVideoEditor::InitEditor() {
  video_.reset();
  audio_.reset();
}

double FfmpegVideoEditor::GetClipDuration(const std::string& path) {
  ffmpeg::QuietLogs();
  AVFormatContext* raw = nullptr;
  const int opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (opened < 0)
    throw Error(err::kFileNotFound, "cannot open " + path + ": " + ffmpeg::ErrorText(opened),
                kSource);
  ffmpeg::InputContext input(raw);
  ffmpeg::Check(avformat_find_stream_info(raw, nullptr), "cannot read " + path, kSource);
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

EditJobId FfmpegVideoEditor::SaveOutputFile(const std::string& path) {
  if (running_) throw Error(err::kComponentFailed, "a compression is running", kSource);
  if (job_.format != kOutputFormatMpeg && job_.format != kOutputFormatWmv)
    throw Error(err::kInvalidArgument, "no output format is set", kSource);
  if (!video_) throw Error(err::kInvalidArgument, "no video clip was added", kSource);
  if (audio_ && (audio_->path != video_->path || audio_->start != video_->start ||
                 audio_->end != video_->end))
    throw Error(err::kInvalidArgument,
                "pictures and sound must come from the same span of one file", kSource);
  if (worker_.joinable()) worker_.join();

  TranscodeJob job = job_;
  job.input = video_->path;
  job.start = video_->start;
  job.end = video_->end;
  job.output = path;
  running_ = true;
  cancel_ = false;
  const EditJobId id = ++last_job_;
  worker_ = std::thread([this, job, id] {
    std::optional<Error> failure;
    try {
      Transcode(job, cancel_, [&](double done, double total) { processing_(id, done, total); });
    } catch (...) {
      failure = Error::FromCurrent();
    }
    running_ = false;
    if (cancel_) return;
    try {
      if (failure)
        failed_(id, *failure);
      else
        complete_(id);
    } catch (...) {  // a notification that cannot be told has nowhere else to go
    }
  });
  return id;
}

}  // namespace moviletta
