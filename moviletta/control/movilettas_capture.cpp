// SPDX-License-Identifier: GPL-3.0-or-later
// Recording, playback, stop and the video size.
#include <chrono>
#include <filesystem>

#include "moviletta/common/constants.h"
#include "moviletta/common/number_text.h"
#include "moviletta/control/frame_period.h"
#include "moviletta/control/movilettas_impl.h"
#include "moviletta/reporting/trap.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;

void DeleteIfPresent(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return;
  if (!fs::remove(path, ec) || ec)
    throw Error(err::kPathFileAccess, "cannot delete " + path, "Moviletta", ec.value());
}

}  // namespace

void MovilettasImpl::RecordVideo() {
  host_thread_.Check(__func__);
  module_.CaptureExtension = ".avi";
  if (!AcceptInStoppedStatus(kRefuseRecord)) return;
  Trap trap(reporter_, "RecordVideo");
  trap.Run([&]() REQUIRES(host_thread_) {
    SetStatus(STATUS_RECORDING);
    const ClientSettings& settings = module_.ClientSettings;
    const double period = FramePeriod(settings.FPS);
    m_StopRequested = false;
    host_.BringToFront(SurfaceWindow::VideoCapX1);
    CaptureDevice& capture = *components_.VideoCapX1;

    trap.section = "set init params";
    const std::string output = skins_.GetOutputDirectory();
    const std::string recording = RecordingPath();

    trap.section = "delete old jpeg and avi files";
    components_.VideoEdit1->ForgetAhead();  // it may be reading the old recording
    module_.TrimStart = module_.TrimEnd = 0;
    DeleteIfPresent(recording);
    DeleteIfPresent(output + "Moviletta." + settings.OUTPUT);

    trap.section = "create shanpshot";
    picFrame_ = capture.GrabFrame();
    capture.SavePictureAsJpeg(picFrame_, output + "Moviletta.jpg", 90);
    capture.SetCaptureFileName(recording);

    trap.section = "start capture";
    capture.StartCapture();
    capture.SetDisplaySize(module_.VideoWidth, module_.VideoHeight);

    if (m_SkinPath.find("SKINS") != std::string::npos) {
      const int32_t frames = skins_.NumberOfFiles(m_SkinPath);
      trap.section = "statr skin sequence";
      const auto stopping = [this]() REQUIRES(host_thread_) {
        return m_StopRequested || host_.StopRequested();
      };
      while (!stopping()) {
        const int16_t n = FrameCount(frames);
        for (int16_t i = 1; i <= n && !stopping(); ++i) {
          trap.section = "overlay skin";
          capture.OverlayBitmap(img_.Picture(i), 0, 0, module_.ClientSettings.TRANSCOLOR);
          Wait(Variant(period));
          host_.ProcessPendingEvents();
        }
        if (stopping() || !capture.IsCapturing()) break;
        // A skin without frames would spin here; let the host sleep until something happens.
        host_.ProcessPendingEvents(std::chrono::milliseconds(n == 0 ? 10 : 0));
      }
      trap.section = "stop capture";
      host_.ProcessPendingEvents();
      capture.StopCapture();
    }
    m_StopRequested = false;
  });
}

void MovilettasImpl::VideoCapX1_CaptureEnd(std::optional<Error> failure) {
  host_thread_.Check(__func__);
  Trap trap(reporter_, "VideoCapX1_CaptureEnd");
  trap.Run([&]() REQUIRES(host_thread_) {
    SetStatus(STATUS_STOPPED);
    if (failure) {
      trap.section = "capture failed";
      throw *failure;
    }
    CompressAhead();
  });
}

void MovilettasImpl::PlayVideo() {
  host_thread_.Check(__func__);
  if (!AcceptInStoppedStatus(kRefusePlay)) return;
  Trap trap(reporter_, "PlayVideo");
  trap.Run([&]() REQUIRES(host_thread_) {
    trap.section = "set output directory";
    const std::string recording = RecordingPath();
    std::error_code ec;
    if (!fs::is_regular_file(recording, ec)) return;
    trap.section = "play recorded video " + recording;
    SetStatus(STATUS_PLAYING);
    host_.BringToFront(SurfaceWindow::VideoCapX2);
    VideoPlayer& player = *components_.VideoCapX2;
    player.OpenFile(recording);
    player.SetPlayRange(module_.TrimStart, module_.TrimEnd);
    player.Play();
    player.SetDisplaySize(module_.VideoWidth, module_.VideoHeight);
  });
}

void MovilettasImpl::StopVideo() {
  host_thread_.Check(__func__);
  Trap(reporter_, "StopVideo").Run([&]() REQUIRES(host_thread_) {
    m_StopRequested = true;
    components_.VideoCapX1->StopCapture();
    host_.BringToFront(SurfaceWindow::VideoCapX1);
    components_.VideoCapX2->StopPlayback();
    components_.VideoCapX2->CloseFile();
    components_.VideoCapX1->SetDisplaySize(module_.VideoWidth, module_.VideoHeight);
    SetStatus(STATUS_STOPPED);
  });
}

void MovilettasImpl::PauseVideo() {
  host_thread_.Check(__func__);
  HoldRecording(kRefusePause, true);
}

void MovilettasImpl::ResumeVideo() {
  host_thread_.Check(__func__);
  HoldRecording(kRefuseResume, false);
}

void MovilettasImpl::HoldRecording(std::string_view refusal, bool held) {
  // Refused as the long operations are (ErrMsg), and also as a failure, so that the page's call
  // tells it.
  if (m_Status != STATUS_RECORDING) {
    SetErrMsg(std::string(refusal) + std::to_string(m_Status));
    throw Error(err::kInvalidArgument, m_ErrMsg);
  }
  SetErrMsg("");
  Trap(reporter_, held ? "PauseVideo" : "ResumeVideo").Run([&]() REQUIRES(host_thread_) {
    components_.VideoCapX1->PauseCapture(held);
  });
}

void MovilettasImpl::TrimTake(double start, double end) {
  host_thread_.Check(__func__);
  // Refused as the long operations are (ErrMsg), and also as a failure, so that the page's
  // call tells it.
  if (!AcceptInStoppedStatus(kRefuseTrim)) throw Error(err::kInvalidArgument, m_ErrMsg);
  const std::string recording = RecordingPath();
  std::error_code ec;
  if (!fs::is_regular_file(recording, ec))
    throw Error(err::kFileNotFound, "There is no recording to trim.");
  const double length = components_.VideoEdit1->GetClipDuration(recording);
  const double to = end == 0 ? length : end;
  constexpr double kFrameSlack = 1e-3;  // a page may name the end as it showed it, rounded
  if (!(start >= 0) || !(to <= length + kFrameSlack) || !(to - start >= kShortestTake))
    throw Error(err::kInvalidArgument, "A take is trimmed to a part of it at least " +
                                           DoubleToText(kShortestTake) + " s long, within its " +
                                           DoubleToText(length) + " s.");
  const double kept_end = to >= length ? 0 : to;
  if (start == module_.TrimStart && kept_end == module_.TrimEnd) return;
  module_.TrimStart = start;
  module_.TrimEnd = kept_end;
  CompressAhead();  // the work ahead starts again with the part that is sent
}

double MovilettasImpl::TakeSeconds() {
  host_thread_.Check(__func__);
  const std::string recording = RecordingPath();
  std::error_code ec;
  if (m_Status == STATUS_RECORDING || !fs::is_regular_file(recording, ec)) return 0;
  return components_.VideoEdit1->GetClipDuration(recording);
}

void MovilettasImpl::SetVideoSize(int32_t lWidth, int32_t lHeight) {
  host_thread_.Check(__func__);
  // No window shows a picture outside these sizes: refused, so that the picture goes on.
  const auto shown = [](int32_t side) { return side >= kMinVideoSide && side <= kMaxVideoSide; };
  if (!shown(lWidth) || !shown(lHeight))
    throw Error(err::kInvalidArgument, "A video size is " + std::to_string(kMinVideoSide) + " to " +
                                           std::to_string(kMaxVideoSide) + " pixels a side");
  Trap(reporter_, "SetVideoSize").Run([&]() REQUIRES(host_thread_) {
    module_.VideoWidth = lWidth;
    module_.VideoHeight = lHeight;
    components_.VideoCapX1->SetDisplaySize(module_.VideoWidth, module_.VideoHeight);
  });
}

void MovilettasImpl::VideoCapX2_PlayerChangeState(int32_t state) {
  host_thread_.Check(__func__);
  Trap(reporter_, "VideoCapX2_PlayerChangeState").Run([&]() REQUIRES(host_thread_) {
    if (state == 0) SetStatus(STATUS_STOPPED);
  });
}

}  // namespace moviletta
