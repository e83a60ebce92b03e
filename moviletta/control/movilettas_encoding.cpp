// SPDX-License-Identifier: GPL-3.0-or-later
// Merging and compressing the recording, with progress on the surface.
#include <chrono>
#include <filesystem>

#include "moviletta/common/constants.h"
#include "moviletta/common/file_identity.h"
#include "moviletta/common/file_write.h"
#include "moviletta/common/number_text.h"
#include "moviletta/control/movilettas_impl.h"
#include "moviletta/reporting/trap.h"

namespace moviletta {
namespace {

// Freezes the compressed greeting for a send waiting on it: a second name for the file the job
// wrote (a later job writes a new file rather than rewriting this one), or a copy.
void FreezeOutput(const CompressionJob& job, const OutgoingSend& send) {
  namespace fs = std::filesystem;
  const fs::path target = fs::path(send.folder) / fs::path(job.output).filename();
  std::error_code ec;
  fs::remove(target, ec);
  LinkOrCopy(job.output, target);  // a greeting missing from the folder fails its mail, said so
}

std::shared_ptr<CompressionJob> FailedJob() {
  auto job = std::make_shared<CompressionJob>();
  job->failed = true;
  return job;
}

}  // namespace

std::string MovilettasImpl::CompressionKey() const {
  const ClientSettings& s = module_.ClientSettings;
  const std::string input = RecordingPath();
  std::string key = FileIdentity(input) + "|" + input + "|" + DoubleToText(module_.TrimStart) +
                    "|" + DoubleToText(module_.TrimEnd) + "|" + s.OUTPUT + "|" +
                    std::to_string(s.FPS);
  if (s.OUTPUT == "mpg")
    for (int32_t value :
         {s.AUDIOSAMPLERATE, s.AUDIOBITRATE, s.SAMPLESIZE, s.FILEHEIGHT, s.FILEWIDTH})
      key += "|" + std::to_string(value);
  return key;
}

std::shared_ptr<const CompressionJob> MovilettasImpl::CompressFile() {
  host_thread_.Check(__func__);
  std::shared_ptr<const CompressionJob> job;
  Trap(reporter_, "CompressFile").Run([&]() REQUIRES(host_thread_) {
    components_.picGeneral->SetVisible(true);
    host_.BringToFront(SurfaceWindow::picGeneral);
    host_.ProcessPendingEvents();
    // The component runs one job at a time: share a job that compresses the same recording
    // the same way, else let a job of another recording end first.
    if (running_job_ && running_job_->key == CompressionKey()) {
      job = running_job_;
      return;
    }
    while (running_job_ && !host_.StopRequested())
      host_.ProcessPendingEvents(std::chrono::milliseconds(50));
    job = MergeVideo();
  });
  if (!job) job = FailedJob();
  return job;
}

std::shared_ptr<const CompressionJob> MovilettasImpl::MergeVideo() {
  host_thread_.Check(__func__);
  // Until the job has started it counts as failed: no completion can come for it.
  auto job = FailedJob();
  Trap trap(reporter_, "MergeVideo");
  trap.Run([&]() REQUIRES(host_thread_) {
    const ClientSettings& settings = module_.ClientSettings;
    VideoEditor& editor = *components_.VideoEdit1;
    const std::string output = skins_.GetOutputDirectory();
    job->key = CompressionKey();
    SetOutputSettings(trap.section);

    trap.section = "init CideoEdit1";
    editor.InitEditor();

    trap.section = "ad video+audio";
    const std::string input = RecordingPath();
    const double end = module_.TrimEnd > 0 ? module_.TrimEnd : editor.GetClipDuration(input);
    editor.AddVideoClip(input, module_.TrimStart, end, 0);
    editor.AddAudioClip(input, module_.TrimStart, end);

    job->output = output + "Moviletta." + settings.OUTPUT;
    trap.section = "save file: " + job->output;
    job->id = editor.SaveOutputFile(job->output);
    job->failed = false;
    running_job_ = job;
  });
  return job;
}

void MovilettasImpl::SetOutputSettings(std::string& section) {
  const ClientSettings& settings = module_.ClientSettings;
  VideoEditor& editor = *components_.VideoEdit1;
  section = "set output settings";
  if (settings.OUTPUT == "mpg") {
    section = "set MPG settings";
    editor.SetOutputFormat(kOutputFormatMpeg);
    editor.SetAudioSampleRate(settings.AUDIOSAMPLERATE);
    editor.SetAudioBitRate(settings.AUDIOBITRATE);
    editor.SetSampleSize(settings.SAMPLESIZE);
    editor.SetOutputHeight(settings.FILEHEIGHT);
    editor.SetOutputWidth(settings.FILEWIDTH);
  }
  if (settings.OUTPUT == "wmv") {
    section = "set WMV settings";
    editor.SetOutputFormat(kOutputFormatWmv);
  }
  editor.SetOutputFrameRate(settings.FPS);
}

void MovilettasImpl::CompressAhead() {
  host_thread_.Check(__func__);
  try {
    std::string section;
    SetOutputSettings(section);
    components_.VideoEdit1->CompressAhead(RecordingPath(), module_.TrimStart, module_.TrimEnd);
  } catch (const Error&) {  // the send compresses it then, and tells what fails
  }
}

void MovilettasImpl::VideoEdit1_Processing(EditJobId job, double done, double total) {
  host_thread_.Check(__func__);
  if (!running_job_ || running_job_->id != job) return;
  Trap(reporter_, "VideoEdit1_Processing").Run([&]() REQUIRES(host_thread_) {
    if (total == 0) throw Error(err::kDivisionByZero);
    const int32_t percent = RoundToLong(done / total * 100);
    components_.vbalProgressBar1->SetProgressValue(percent);
    components_.vbalProgressBar1->SetProgressText("Proccesing...  " + std::to_string(percent) +
                                                  "%");
  });
}

void MovilettasImpl::VideoEdit1_Complete(EditJobId job) {
  host_thread_.Check(__func__);
  if (!running_job_ || running_job_->id != job) return;
  const std::shared_ptr<CompressionJob> ended = std::move(running_job_);
  Trap(reporter_, "VideoEdit1_Complete").Run([&]() REQUIRES(host_thread_) {
    ended->done = true;
    // Before anything else runs: the next recording or job may replace the file.
    for (const auto& send : sends_.UnderWay())
      if (send->job == ended) FreezeOutput(*ended, *send);
    components_.vbalProgressBar1->SetProgressValue(0);
    components_.vbalProgressBar1->SetProgressText("");
  });
}

void MovilettasImpl::VideoEdit1_Failed(EditJobId job, const Error& failure) {
  host_thread_.Check(__func__);
  if (running_job_ && running_job_->id == job) {
    running_job_->failed = true;
    running_job_.reset();
  }
  Trap(reporter_, "VideoEdit1_Failed").Run([&]() REQUIRES(host_thread_) { throw failure; });
}

}  // namespace moviletta
