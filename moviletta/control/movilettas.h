// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "moviletta/common/variant.h"
#include "moviletta/control/components.h"
#include "moviletta/safety/object_safety.h"

namespace moviletta {

class EventQueue;
class Host;
struct ModuleState;

// ClientStatus: what the control is doing. Only a stopped control takes a new long operation.
inline constexpr int32_t STATUS_STARTING = 0;  // start-up has not completed
inline constexpr int32_t STATUS_STOPPED = 1;
inline constexpr int32_t STATUS_LOADING_SKIN = 2;
inline constexpr int32_t STATUS_RECORDING = 3;
inline constexpr int32_t STATUS_PLAYING = 4;
inline constexpr int32_t STATUS_SENDING = 5;

// The two events a page follows; it reads ClientStatus and ErrMsg when they are raised.
enum class ControlEvent { StatusChanged, ErrMsgChanged };

// Dispatch identifiers of the members below, in the order of the default interface.
namespace dispid {
inline constexpr int32_t StatusChanged = 0x60030004;
inline constexpr int32_t ErrMsgChanged = 0x60030005;
inline constexpr int32_t SkinPath = 0x68030003;
inline constexpr int32_t RecordVideo = 0x60030008;
inline constexpr int32_t PlayVideo = 0x60030009;
inline constexpr int32_t StopVideo = 0x6003000A;
inline constexpr int32_t Miror = 0x68030002;
inline constexpr int32_t ClientStatus = 0x68030001;
inline constexpr int32_t ErrMsg = 0x68030000;
inline constexpr int32_t SendByEmail = 0x60030017;
inline constexpr int32_t SendGreeting = 0x60030018;
inline constexpr int32_t GetInstallationID = 0x60030020;
inline constexpr int32_t LoadSkin = 0x60030029;
inline constexpr int32_t SetVideoSize = 0x6003002D;
inline constexpr int32_t LoadClientSettings = 0x60030031;
inline constexpr int32_t SetXMLNode = 0x60030032;
inline constexpr int32_t GenerateMessageXML = 0x60030057;
inline constexpr int32_t OutboxList = 0x60030058;
inline constexpr int32_t OutboxSend = 0x60030059;
inline constexpr int32_t OutboxDiscard = 0x6003005A;
inline constexpr int32_t TrimTake = 0x6003005B;
inline constexpr int32_t TakeSeconds = 0x6003005C;
inline constexpr int32_t PauseVideo = 0x6003005D;
inline constexpr int32_t ResumeVideo = 0x6003005E;
inline constexpr int32_t CancelSend = 0x6003005F;

// Events of the event interface.
inline constexpr int32_t EventStatusChanged = 1;
inline constexpr int32_t EventErrMsgChanged = 2;
}  // namespace dispid

// The Moviletta control as a page scripts it: record a greeting over a skin, review it and send
// it. Host thread only (checked in debug builds). A member with an error trap reports its
// failure to the greeting server's error log and returns; what leaves a member is an Error that
// the host turns into a script error. Members that yield (sends, skin previews, Wait) may see
// any other member run inside them.
class Movilettas {
 public:
  // A new control. `host`, `queue` and `module` must outlive it. Throws Error 91 when the
  // capture, player or editing component is missing; the others default to the standard ones.
  static std::unique_ptr<Movilettas> Create(Host& host, EventQueue& queue, ModuleState& module,
                                            Components components, ControlConfig config = {});
  virtual ~Movilettas() = default;

  // --- Life in the host, called by the host in this order ---
  // Start-up: settings, capture set-up, registration, output format, safety flags, status 1.
  virtual void UserControl_Initialize() = 0;
  // A new instance gets the default properties; a restored one reads them from the bag.
  virtual void UserControl_InitProperties() = 0;
  virtual void UserControl_ReadProperties() = 0;
  virtual void UserControl_WriteProperties() = 0;
  // Shutdown: releases the capture device, the mail sender and the run-time picture slots.
  virtual void UserControl_Terminate() = 0;

  // --- Scripting surface, in dispid order ---
  void StatusChanged() {}
  void ErrMsgChanged() {}
  // Throws Error 393 in user mode; the stored path in a design environment.
  virtual std::string SkinPath() const = 0;
  virtual void RecordVideo() = 0;
  virtual void PlayVideo() = 0;
  virtual void StopVideo() = 0;
  virtual bool Miror() const = 0;
  virtual int32_t ClientStatus() const = 0;
  virtual const std::string& ErrMsg() const = 0;
  // Stores the flag, mirrors the capture picture and marks "Miror" changed.
  virtual void Miror(bool New_Miror) = 0;
  // Compresses the recording and mails it with the snapshot as a mobile e-mail.
  virtual void SendByEmail(const std::string& SenderName, const std::string& SenderEmail,
                           const std::string& RecipName, const std::string& MobilePhone,
                           const std::string& EmailList, const std::string& Msg) = 0;
  // Compresses the recording and mails it with the message document to the mail drop.
  virtual void SendGreeting(int32_t lUserID, const std::string& sSenderName,
                            const std::string& sSenderEmail, const std::string& sRecipList,
                            const std::string& sMsg, const std::string& sPublish,
                            int32_t lSiteSettingID) = 0;
  // The installation identifier; empty after a reported failure.
  virtual std::string GetInstallationID() = 0;
  virtual void LoadSkin(int32_t lSkinID) = 0;
  virtual void SetVideoSize(int32_t lWidth, int32_t lHeight) = 0;
  // Fetches the client settings and resets the display size to 320 x 240; returns empty.
  virtual Variant LoadClientSettings() = 0;
  // "<name>value</name>", the value escaped.
  virtual Variant SetXMLNode(const Variant& sNodeName, const Variant& sNodeValue) = 0;
  // The message document of a greeting; empty after a reported failure.
  virtual Variant GenerateMessageXML(int32_t lUserID, const std::string& sSenderName,
                                     const std::string& sSenderEmail, const std::string& sRecipList,
                                     const std::string& sMsg, const std::string& sPublish,
                                     int32_t lSiteSettingID) = 0;

  // --- The outbox: greetings whose mail failed or whose result never came ---
  // Its entries as a JSON array, oldest first: {"id", "when" (seconds since 1970), "label",
  // "recipients", "message" (the sender's words), "bytes", "sending", "explanation" (why the
  // last send failed)}.
  virtual std::string OutboxList() = 0;
  // Mails entry `id` again through a new mail sender, as a send does: refused outside status 1,
  // status 5 until its mail is on its way, the bar, the result's message box. A success removes
  // the entry; a failure keeps it with its new explanation. Throws Error 5 for an unknown entry.
  virtual void OutboxSend(const std::string& id) = 0;
  // Removes entry `id`; false when there is none or its send is under way.
  virtual bool OutboxDiscard(const std::string& id) = 0;

  // --- Trimming the take in review ---
  // Sends from now on only the recording's part from `start` to `end` seconds (`end` 0: its
  // end), sound and pictures alike; the work ahead starts again with it. Refused outside status 1
  // (ErrMsg "Can't Trim while in status: N", and Error 5 with that text); throws Error 53
  // without a recording and Error 5 for a part outside the recording or shorter than half a
  // second, changing nothing. A new recording has no trim.
  virtual void TrimTake(double start, double end) = 0;
  // The recording's whole length in seconds (as trims count it); 0 without a finished one.
  virtual double TakeSeconds() = 0;

  // --- Pausing a recording ---
  // Holds the running recording, or goes on with it: the take stays one file, and the time limit
  // counts recorded time only. Refused outside status 3 (ErrMsg "Can't Pause while in status: N"
  // or "Can't Resume while in status: N", and Error 5 with that text). Pausing a paused
  // recording, or resuming a running one, changes nothing.
  virtual void PauseVideo() = 0;
  virtual void ResumeVideo() = 0;

  // --- Cancelling a send ---
  // Ends the latest send under way: one being compressed ends as soon as its call sees it, a mail
  // in flight is cut off. Nothing is told and no copy is kept, except that a greeting sent again
  // from the outbox stays there. False when no send is under way.
  virtual bool CancelSend() = 0;

  // --- Safety answers for the host (see safety/object_safety.h) ---
  virtual HResult GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                            uint32_t* pdwEnabledOptions) const = 0;
  virtual HResult SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                            uint32_t dwEnabledOptions) const = 0;

  // --- For hosts ---
  // For a host that makes the control on one thread and then runs it on another for good: the
  // next member call names the host thread.
  virtual void DetachFromHostThread() = 0;
  // Pauses for more than `seconds` (a number) while processing host events; at least one pass.
  virtual void Wait(const Variant& seconds) = 0;
};

}  // namespace moviletta
