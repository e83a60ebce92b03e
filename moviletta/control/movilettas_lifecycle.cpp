// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, shutdown, the persisted properties, Wait and the requests start-up makes.
#include <algorithm>
#include <cmath>

#include "moviletta/common/constants.h"
#include "moviletta/control/movilettas_impl.h"
#include "moviletta/reporting/trap.h"
#include "moviletta/server/registration.h"

namespace moviletta {

void MovilettasImpl::UserControl_Initialize() {
  host_thread_.Check(__func__);
  Trap trap(reporter_, "UserControl_Initialize");
  trap.Run([&]() REQUIRES(host_thread_) {
    trap.section = "load client settings";
    LoadClientSettings();

    trap.section = "set VideoCapX1 settings";
    const ClientSettings& settings = module_.ClientSettings;
    CaptureDevice& capture = *components_.VideoCapX1;
    capture.SetSourceIndex(0);
    capture.SetCaptureSize(kCaptureWidth, kCaptureHeight);
    capture.SetFrameRate(settings.FPS);
    capture.SetPreview(true);
    capture.SetTimeLimit(settings.SECLIMIT);
    capture.SetTimeLimitEnabled(true);
    capture.SetConnected(true);

    trap.section = "register installation";
    RegisterInstallation();
    m_SkinID = kNoSkin;

    trap.section = "set VideoEdit settings";
    KeepToKnownOutput();
    components_.VideoEdit1->SetOutputFrameRate(settings.FPS);

    trap.section = "setActiveX as safe for scripting";
    MarkSafeForScripting(module_.Safety);

    trap.section = "set default status - stopped";
    SetStatus(STATUS_STOPPED);
    SetErrMsg("");
  });
}

void MovilettasImpl::UserControl_Terminate() {
  host_thread_.Check(__func__);
  Trap(reporter_, "UserControl_Terminate").Run([&]() REQUIRES(host_thread_) {
    components_.VideoCapX1->SetPreview(false);
    components_.VideoCapX1->SetConnected(false);
    sends_.EndAll();
    running_job_.reset();
    const int32_t count = img_.Count();
    for (int32_t index = 2; index < count; ++index) img_.Remove(index);
  });
}

void MovilettasImpl::UserControl_InitProperties() {
  host_thread_.Check(__func__);
  Trap(reporter_, "UserControl_InitProperties").Run([&]() REQUIRES(host_thread_) {
    m_SkinPath = kDefaultSkinPath;
    m_Miror = false;
  });
}

void MovilettasImpl::UserControl_ReadProperties() {
  host_thread_.Check(__func__);
  Trap(reporter_, "UserControl_ReadProperties").Run([&]() REQUIRES(host_thread_) {
    m_SkinPath = host_.ReadProperty(kPropSkinPath, Variant(std::string(kDefaultSkinPath))).ToText();
    m_Miror = host_.ReadProperty(kPropMiror, Variant(0)).ToBoolean();
  });
}

void MovilettasImpl::UserControl_WriteProperties() {
  host_thread_.Check(__func__);
  Trap(reporter_, "UserControl_WriteProperties").Run([&]() REQUIRES(host_thread_) {
    host_.WriteProperty(kPropSkinPath, Variant(m_SkinPath), Variant(std::string(kDefaultSkinPath)));
    host_.WriteProperty(kPropMiror, Variant(m_Miror), Variant(0));
  });
}

void MovilettasImpl::Wait(const Variant& seconds) {
  host_thread_.Check(__func__);
  using std::chrono::duration;
  using std::chrono::milliseconds;
  Trap(reporter_, "Wait").Run([&]() REQUIRES(host_thread_) {
    const double limit = seconds.ToDouble();
    const auto start = host_.Now();
    double elapsed = 0;
    do {
      // Sleep in the host's queue rather than spin; wake for any event, and re-check often.
      const double remaining_ms = std::clamp((limit - elapsed) * 1000.0, 0.0, 50.0);
      host_.ProcessPendingEvents(milliseconds(static_cast<int64_t>(std::ceil(remaining_ms)) + 1));
      elapsed = duration<double>(host_.Now() - start).count();
    } while (elapsed <= limit && !host_.StopRequested());
  });
}

Variant MovilettasImpl::LoadClientSettings() {
  host_thread_.Check(__func__);
  Trap trap(reporter_, "LoadClientSettings");
  trap.Run([&]() REQUIRES(host_thread_) {
    const std::string refused =
        FetchClientSettings(server_, *components_.xml, module_.ClientSettings, trap.section);
    module_.VideoWidth = kCaptureWidth;
    module_.VideoHeight = kCaptureHeight;
    KeepToKnownOutput();  // a reload too: any other name could make the output the recording
    if (!refused.empty()) {
      trap.section = "settings out of range";
      throw Error(err::kInvalidArgument, "settings out of range: " + refused);
    }
  });
  return {};
}

void MovilettasImpl::KeepToKnownOutput() {
  std::string& output = module_.ClientSettings.OUTPUT;
  if (output != "mpg" && output != "wmv") output = "wmv";
}

std::string MovilettasImpl::RegisterInstallation() {
  Trap trap(reporter_, "RegisterInstallation");
  std::string answer;
  trap.Run([&]() REQUIRES(host_thread_) {
    answer = AnnounceInstallation(server_, module_.ClientSettings, trap.section);
  });
  return answer;
}

}  // namespace moviletta
