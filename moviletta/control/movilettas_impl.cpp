// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/movilettas_impl.h"

#include <filesystem>

#include "moviletta/common/constants.h"
#include "moviletta/common/error.h"
#include "moviletta/reporting/trap.h"

namespace moviletta {

std::unique_ptr<Movilettas> Movilettas::Create(Host& host, EventQueue& queue, ModuleState& module,
                                               Components components, ControlConfig config) {
  if (config.app_directory.empty())
    throw Error(err::kPathNotFound, "Path not found: the host gave the control no folder");
  return std::make_unique<MovilettasImpl>(host, queue, module, std::move(components),
                                          std::move(config));
}

MovilettasImpl::MovilettasImpl(Host& host, EventQueue& queue, ModuleState& module,
                               Components components, ControlConfig config)
    : host_(host),
      queue_(queue),
      module_(module),
      components_(WithStandardComponents(std::move(components))),
      config_(std::move(config)),
      identity_(components_.volume_serial),
      server_(config_.server_address, *components_.http, identity_),
      reporter_(server_),
      skins_(config_.app_directory, reporter_),
      downloader_(server_, *components_.streams, module_.ClientSettings, skins_, reporter_),
      img_(config_.skin_budget_bytes),
      outbox_(config_.app_directory + "/OUTBOX", config_.outbox_limits),
      sends_(host_, components_, outbox_, reporter_, config_.app_directory) {
  if (!components_.VideoCapX1 || !components_.VideoCapX2 || !components_.VideoEdit1)
    throw Error(err::kObjectNotSet, "the control needs its capture, player and editing components");
  const NotificationPoster poster = Notifications();
  components_.VideoCapX1->OnCaptureEnd([poster, this](std::optional<Error> failure) {
    poster.Post([this, failure] { VideoCapX1_CaptureEnd(failure); });
  });
  components_.VideoCapX2->OnPlayerChangeState([poster, this](int32_t state) {
    poster.Post([this, state] { VideoCapX2_PlayerChangeState(state); });
  });
  VideoEditor& editor = *components_.VideoEdit1;
  editor.OnProcessing([poster, this](EditJobId job, double done, double total) {
    poster.Post([this, job, done, total] { VideoEdit1_Processing(job, done, total); });
  });
  editor.OnComplete(
      [poster, this](EditJobId job) { poster.Post([this, job] { VideoEdit1_Complete(job); }); });
  editor.OnFailed([poster, this](EditJobId job, Error failure) {
    poster.Post([this, job, failure] { VideoEdit1_Failed(job, failure); });
  });
  std::error_code ignored;  // the folders of sends and work ahead a process before left behind
  std::filesystem::remove_all(skins_.GetAppDirectory() + "/.sends", ignored);
  std::filesystem::remove_all(skins_.GetAppDirectory() + "/" + VideoEditor::kAheadFolder, ignored);
  Trap(reporter_, "Outbox").Run([&]() REQUIRES(host_thread_) {
    outbox_.Load(
        "The studio closed before this greeting's mail was confirmed; it may not have "
        "arrived.");
  });
}

MovilettasImpl::~MovilettasImpl() {
  alive_.reset();
}

void MovilettasImpl::SetStatus(int32_t status) {
  m_Status = status;
  host_.RaiseEvent(ControlEvent::StatusChanged, {m_Status, m_ErrMsg});
}

void MovilettasImpl::SetErrMsg(std::string message) {
  Trap trap(reporter_, "SetErrMsg");
  trap.section = " sMsg: " + message;
  trap.Run([&]() REQUIRES(host_thread_) {
    m_ErrMsg = std::move(message);
    host_.RaiseEvent(ControlEvent::ErrMsgChanged, {m_Status, m_ErrMsg});
  });
}

bool MovilettasImpl::AcceptInStoppedStatus(std::string_view refusal) {
  if (m_Status != STATUS_STOPPED) {
    SetErrMsg(std::string(refusal) + std::to_string(m_Status));
    return false;
  }
  SetErrMsg("");
  return true;
}

std::string MovilettasImpl::SkinPath() const {
  host_thread_.Check(__func__);
  if (host_.UserMode()) throw Error(err::kGetNotSupportedAtRunTime);
  return m_SkinPath;
}

void MovilettasImpl::Miror(bool New_Miror) {
  host_thread_.Check(__func__);
  m_Miror = New_Miror;
  components_.VideoCapX1->SetMirrorMode(New_Miror ? kMirrorOn : kMirrorOff);
  host_.PropertyChanged(kPropMiror);
}

std::string MovilettasImpl::GetInstallationID() {
  host_thread_.Check(__func__);
  std::string id;
  Trap(reporter_, "GetInstallationID").Run([&]() REQUIRES(host_thread_) {
    id = identity_.ComputeInstallationID();
  });
  return id;
}

HResult MovilettasImpl::GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                                  uint32_t* pdwEnabledOptions) const {
  host_thread_.Check(__func__);
  return moviletta::GetInterfaceSafetyOptions(module_.Safety, riid, pdwSupportedOptions,
                                              pdwEnabledOptions);
}

HResult MovilettasImpl::SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                                  uint32_t dwEnabledOptions) const {
  host_thread_.Check(__func__);
  return moviletta::SetInterfaceSafetyOptions(module_.Safety, riid, dwOptionsSetMask,
                                              dwEnabledOptions);
}

}  // namespace moviletta
