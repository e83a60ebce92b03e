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
class MovilettasImpl;
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
  // `host`, `queue` and `module` must outlive the control. Throws Error 91 when the capture,
  // player or editing component is missing; the others default to the standard ones.
  Movilettas(Host& host, EventQueue& queue, ModuleState& module, Components components,
             ControlConfig config = {});
  ~Movilettas();
  Movilettas(const Movilettas&) = delete;
  Movilettas& operator=(const Movilettas&) = delete;

  // --- Life in the host, called by the host in this order ---
  // Start-up: settings, capture set-up, registration, output format, safety flags, status 1.
  void UserControl_Initialize();
  // A new instance gets the default properties; a restored one reads them from the bag.
  void UserControl_InitProperties();
  void UserControl_ReadProperties();
  void UserControl_WriteProperties();
  // Shutdown: releases the capture device, the mail sender and the run-time picture slots.
  void UserControl_Terminate();

  // --- Scripting surface, in dispid order ---
  void StatusChanged() {}
  void ErrMsgChanged() {}
  // Throws Error 393 in user mode; the stored path in a design environment.
  std::string SkinPath() const;
  void RecordVideo();
  void PlayVideo();
  void StopVideo();
  bool Miror() const;
  int32_t ClientStatus() const;
  const std::string& ErrMsg() const;
  // Stores the flag, mirrors the capture picture and marks "Miror" changed.
  void Miror(bool New_Miror);
  // Compresses the recording and mails it with the snapshot as a mobile e-mail.
  void SendByEmail(const std::string& SenderName, const std::string& SenderEmail,
                   const std::string& RecipName, const std::string& MobilePhone,
                   const std::string& EmailList, const std::string& Msg);
  // Compresses the recording and mails it with the message document to the mail drop.
  void SendGreeting(int32_t lUserID, const std::string& sSenderName,
                    const std::string& sSenderEmail, const std::string& sRecipList,
                    const std::string& sMsg, const std::string& sPublish, int32_t lSiteSettingID);
  // The installation identifier; empty after a reported failure.
  std::string GetInstallationID();
  void LoadSkin(int32_t lSkinID);
  void SetVideoSize(int32_t lWidth, int32_t lHeight);
  // Fetches the client settings and resets the display size to 320 x 240; returns empty.
  Variant LoadClientSettings();
  // "<name>value</name>", the value escaped.
  Variant SetXMLNode(const Variant& sNodeName, const Variant& sNodeValue);
  // The message document of a greeting; empty after a reported failure.
  Variant GenerateMessageXML(int32_t lUserID, const std::string& sSenderName,
                             const std::string& sSenderEmail, const std::string& sRecipList,
                             const std::string& sMsg, const std::string& sPublish,
                             int32_t lSiteSettingID);

  // --- Safety answers for the host (see safety/object_safety.h) ---
  HResult GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                    uint32_t* pdwEnabledOptions) const;
  HResult SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                    uint32_t dwEnabledOptions) const;

  // --- For hosts ---
  // For a host that makes the control on one thread and then runs it on another for good: the
  // next member call names the host thread.
  void DetachFromHostThread();
  // Pauses for more than `seconds` (a number) while processing host events; at least one pass.
  void Wait(const Variant& seconds);

 private:
  friend class MovilettasTesting;
  std::unique_ptr<MovilettasImpl> impl_;
};

}  // namespace moviletta
