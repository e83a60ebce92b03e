// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "moviletta/common/thread_checker.h"
#include "moviletta/common/variant.h"
#include "moviletta/control/components.h"
#include "moviletta/control/event_queue.h"
#include "moviletta/control/host.h"
#include "moviletta/control/module_state.h"
#include "moviletta/control/movilettas.h"
#include "moviletta/control/outgoing_send.h"
#include "moviletta/control/sends.h"
#include "moviletta/outbox/outbox.h"
#include "moviletta/reporting/error_reporter.h"
#include "moviletta/safety/object_safety.h"
#include "moviletta/server/greeting_server.h"
#include "moviletta/server/identity.h"
#include "moviletta/skins/picture_slots.h"
#include "moviletta/skins/skin_cache.h"
#include "moviletta/skins/skin_download.h"

namespace moviletta {

class Trap;

// The Moviletta control behind its scripting surface (movilettas.h): the members, the
// component notification handlers and the state they share.
//
// Threads: every member runs on the host thread, and so do the events it raises; debug builds
// check it in every public member (the host thread is the first that calls one, see
// DetachFromHostThread). Outside components deliver their notifications through Notifications(),
// which queues them for the host thread. Nothing here takes a lock.
//
// Failures: a procedure with an error trap reports its failure to the greeting server's error
// log and returns normally. Only what cannot be reported (the report itself failed) and the
// failures of members without a trap leave a member, as Error; the host turns them into script
// errors.
class MovilettasImpl final : public Movilettas {
 public:
  // See Movilettas::Create.
  MovilettasImpl(Host& host, EventQueue& queue, ModuleState& module, Components components,
                 ControlConfig config);
  ~MovilettasImpl() override;

  void UserControl_Initialize() override;
  void UserControl_InitProperties() override;
  void UserControl_ReadProperties() override;
  void UserControl_WriteProperties() override;
  void UserControl_Terminate() override;

  std::string SkinPath() const override;
  void RecordVideo() override;
  void PlayVideo() override;
  void StopVideo() override;
  bool Miror() const override {
    host_thread_.Check(__func__);
    return m_Miror;
  }
  int32_t ClientStatus() const override {
    host_thread_.Check(__func__);
    return m_Status;
  }
  const std::string& ErrMsg() const override {
    host_thread_.Check(__func__);
    return m_ErrMsg;
  }
  void Miror(bool New_Miror) override;
  void SendByEmail(const std::string& SenderName, const std::string& SenderEmail,
                   const std::string& RecipName, const std::string& MobilePhone,
                   const std::string& EmailList, const std::string& Msg) override;
  void SendGreeting(int32_t lUserID, const std::string& sSenderName,
                    const std::string& sSenderEmail, const std::string& sRecipList,
                    const std::string& sMsg, const std::string& sPublish,
                    int32_t lSiteSettingID) override;
  std::string GetInstallationID() override;
  void LoadSkin(int32_t lSkinID) override;
  void SetVideoSize(int32_t lWidth, int32_t lHeight) override;
  Variant LoadClientSettings() override;
  Variant SetXMLNode(const Variant& sNodeName, const Variant& sNodeValue) override;
  Variant GenerateMessageXML(int32_t lUserID, const std::string& sSenderName,
                             const std::string& sSenderEmail, const std::string& sRecipList,
                             const std::string& sMsg, const std::string& sPublish,
                             int32_t lSiteSettingID) override;

  std::string OutboxList() override;
  void OutboxSend(const std::string& id) override;
  bool OutboxDiscard(const std::string& id) override;
  void TrimTake(double start, double end) override;
  double TakeSeconds() override;
  bool CancelSend() override;
  void PauseVideo() override;
  void ResumeVideo() override;

  HResult GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                    uint32_t* pdwEnabledOptions) const override;
  HResult SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                    uint32_t dwEnabledOptions) const override;

  void DetachFromHostThread() override { host_thread_.Detach(); }
  void Wait(const Variant& seconds) override;

  // --- For the control's own operations and tests (MovilettasTesting) ---
  // Queues work for the host thread from any thread; dropped once the control is gone.
  NotificationPoster Notifications() const { return NotificationPoster(queue_, alive_); }
  // The application folder, the skin cache and the skin downloads.
  SkinCache& skins() { return skins_; }
  SkinDownloader& downloads() { return downloader_; }
  // The picture slots (img) of the surface; host thread.
  PictureSlots& img() {
    host_thread_.Check(__func__);
    return img_;
  }
  // "ANIMATION", "STATIC" or "NO_SKIN" for the current skin; empty after a reported failure.
  std::string GetSkinType();
  // True when slot `index` exists.
  bool IsImageLoaded(int32_t index);

  // Compression of the recording into the output file: CompressFile shows the panel and runs
  // MergeVideo, which hands a job to the editing component. The job that comes back ends with
  // VideoEdit1_Complete (done) or VideoEdit1_Failed (failed); it is already failed when it could
  // not be started. CompressFile joins a running job for the same recording and settings, and
  // waits (yielding) for a running job of another recording to end before it starts its own.
  std::shared_ptr<const CompressionJob> CompressFile();
  std::shared_ptr<const CompressionJob> MergeVideo();
  // Gives the editing component the output settings; `section` follows what is being set.
  void SetOutputSettings(std::string& section);
  // Lets the editing component compress the recording that just ended while the visitor
  // reviews it. It changes nothing anyone sees, so a failure is not reported.
  void CompressAhead();

 private:
  // Notification handlers of the components, run on the host thread. Notifications of a job or
  // a send that is no longer the control's are dropped.
  // `failure` is what ended the capture, when something did; it is reported after the status.
  void VideoCapX1_CaptureEnd(std::optional<Error> failure = std::nullopt);
  void VideoCapX2_PlayerChangeState(int32_t state);
  void VideoEdit1_Processing(EditJobId job, double done, double total);
  void VideoEdit1_Complete(EditJobId job);
  void VideoEdit1_Failed(EditJobId job, const Error& failure);
  // The mail sender's notifications; `send` is the OutgoingSend::id of the send that raised it.
  void poSendMail_Progress(uint64_t send, int32_t PercentComplete);
  void poSendMail_SendFailed(uint64_t send, const std::string& Explanation);
  void poSendMail_SendSuccesful(uint64_t send);

  void SetStatus(int32_t status) REQUIRES(host_thread_);
  void SetErrMsg(std::string message) REQUIRES(host_thread_);
  // The entry rule of the long operations; false after a refusal.
  bool AcceptInStoppedStatus(std::string_view refusal) REQUIRES(host_thread_);
  // Pauses (`held`) or resumes the running recording; refused with `refusal` outside status 3.
  void HoldRecording(std::string_view refusal, bool held) REQUIRES(host_thread_);
  std::string RegisterInstallation();
  // OUTPUT as one of the two formats: exactly "mpg", else "wmv".
  void KeepToKnownOutput();
  // The skin-path assignment: stores the path and shows the skin; an animated skin's preview
  // runs here (and yields) when ANIMPREVIEW is 1 and `animate` is set.
  void AssignSkinPath(const std::string& path, bool animate = true) REQUIRES(host_thread_);
  void RunSkinPreview(int16_t frames, double period) REQUIRES(host_thread_);
  // A new send with its own mail sender (which becomes poSendMail) and folder.
  std::shared_ptr<OutgoingSend> NewSend() REQUIRES(host_thread_);
  // A send begins: status 5, the bar at its start.
  void BeginSending() REQUIRES(host_thread_);
  // The output file and the snapshot in the send's folder. The snapshot is frozen now; the
  // output when its compression completes.
  std::vector<std::string> AttachmentList(OutgoingSend& send) REQUIRES(host_thread_);
  // The mail settings of now.
  MailRoute RouteNow() const;
  // Shows the panel, compresses and yields until the send's compression has ended. Returns
  // false when it failed.
  bool CompressAndWait(OutgoingSend& send) REQUIRES(host_thread_);
  // Runs the body of a send procedure; a send that ends without its mail started tells the user
  // once and is settled.
  void RunSend(Trap& trap, const std::function<void(OutgoingSend&)>& body) REQUIRES(host_thread_);
  // A send that could not go out: tells the user, settles it and leaves the sending state.
  void NotSent(uint64_t send, const std::string& why) REQUIRES(host_thread_);
  // The file the recording is made in.
  std::string RecordingPath() const {
    return skins_.GetOutputDirectory() + "Moviletta" + module_.CaptureExtension;
  }
  // The recording and the output settings a compression would use now.
  std::string CompressionKey() const REQUIRES(host_thread_);

  Host& host_;
  EventQueue& queue_;
  ModuleState& module_;
  Components components_;
  ControlConfig config_;
  Identity identity_;
  GreetingServer server_;
  ErrorReporter reporter_;
  SkinCache skins_;
  SkinDownloader downloader_;
  PictureSlots img_ GUARDED_BY(host_thread_);
  Outbox outbox_ GUARDED_BY(host_thread_);
  BitmapHandle picFrame_ GUARDED_BY(host_thread_);
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  ThreadChecker host_thread_;

  // The host thread's state: members and notification handlers Check that they run on it.
  bool m_Miror GUARDED_BY(host_thread_) = false;
  std::string m_SkinPath GUARDED_BY(host_thread_);
  int32_t m_SkinID GUARDED_BY(host_thread_) = 0;
  std::string m_ErrMsg GUARDED_BY(host_thread_);
  bool m_StopRequested GUARDED_BY(host_thread_) = false;
  bool m_StopPreview GUARDED_BY(host_thread_) = false;
  int32_t m_Status GUARDED_BY(host_thread_) = STATUS_STARTING;
  // The editing component's job, while it runs.
  std::shared_ptr<CompressionJob> running_job_ GUARDED_BY(host_thread_);
  Sends sends_ GUARDED_BY(host_thread_);
};

}  // namespace moviletta
