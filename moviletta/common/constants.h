// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>

// Constants shared by several subsystems of the control.
namespace moviletta {

// Refusal texts of the guarded operations; the current status follows them.
inline constexpr std::string_view kRefuseRecord = "Can't Record while in status: ";
inline constexpr std::string_view kRefusePlay = "Can't Play while in status: ";
inline constexpr std::string_view kRefuseLoadSkin = "Can't Load skin while in status: ";
inline constexpr std::string_view kRefuseSend = "Can't Send while in status: ";
inline constexpr std::string_view kRefuseTrim = "Can't Trim while in status: ";
inline constexpr std::string_view kRefusePause = "Can't Pause while in status: ";
inline constexpr std::string_view kRefuseResume = "Can't Resume while in status: ";
inline constexpr double kShortestTake = 0.5;  // seconds a trimmed take lasts at least

// The highest frame rate the capture engine records and the compression writes.
inline constexpr int32_t kMaxFrameRate = 120;

// The control's own version, sent to the greeting server as "1.6".
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 6;

// Greeting server. The address is the production default that a host may override when it
// creates the control.
inline constexpr std::string_view kDefaultServerAddress = "http://greetings.movilettastudio.com";
inline constexpr std::string_view kSettingsPath = "/clientSettings.asp";
inline constexpr std::string_view kErrorLogPath = "/clientErrLog.asp";
inline constexpr std::string_view kServerPassword = "tk52Rm36P";

// Persisted properties in the host's property bag.
inline constexpr std::string_view kPropSkinPath = "SkinPath";
inline constexpr std::string_view kPropMiror = "Miror";
inline constexpr std::string_view kDefaultSkinPath = "0";

// Skin ids with a meaning of their own.
inline constexpr int32_t kNoSkin = -1;
inline constexpr int32_t kPlaceholderSkin = 100000;
// The sizes SetVideoSize takes, a side.
inline constexpr int32_t kMinVideoSide = 16;
inline constexpr int32_t kMaxVideoSide = 4096;

// Values passed to the capture component.
inline constexpr int16_t kMirrorOn = -1;
inline constexpr int16_t kMirrorOff = -4;
inline constexpr int32_t kCaptureWidth = 320;
inline constexpr int32_t kCaptureHeight = 240;

// Identity of the control in a host's component registry.
inline constexpr std::string_view kClassId = "{FFA7471F-4C92-4ED2-8335-8E5807B2901F}";
inline constexpr std::string_view kDispatchInterfaceId = "{4DFCA9AF-E17B-4EC6-883C-B936642713D0}";
inline constexpr std::string_view kEventInterfaceId = "{68FD7DDD-BF61-4761-846A-19940E11FE69}";
inline constexpr std::string_view kTypeLibraryId = "{89223AF9-502B-4510-A130-FB37A06679E3}";
inline constexpr int kTypeLibraryMajor = 1;
inline constexpr int kTypeLibraryMinor = 1;
inline constexpr uint32_t kTypeLibraryLocale = 0x409;

}  // namespace moviletta
