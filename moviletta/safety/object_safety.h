// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The answers a host gets when it asks whether the control may be scripted or initialised.
namespace moviletta {

// An interface identifier: 16 bytes laid out as the platform stores them (the first three
// groups little-endian).
using Guid = std::array<uint8_t, 16>;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string GuidToRegistryText(const Guid& guid);
// The reverse, for hosts and tests; nothing when `text` is not in registry form.
std::optional<Guid> GuidFromRegistryText(std::string_view text);

inline constexpr std::string_view kIID_IDispatch = "{00020400-0000-0000-C000-000000000046}";
inline constexpr std::string_view kIID_IPersistStorage = "{0000010A-0000-0000-C000-000000000046}";
inline constexpr std::string_view kIID_IPersistStream = "{00000109-0000-0000-C000-000000000046}";
inline constexpr std::string_view kIID_IPersistPropertyBag =
    "{37D84F60-42CB-11CE-8135-00AA004BB851}";

inline constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_CALLER = 1;
inline constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_DATA = 2;

using HResult = int32_t;
inline constexpr HResult S_OK = 0;
inline constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);
inline constexpr HResult E_POINTER = static_cast<HResult>(0x80004003u);
inline constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);

// One pair per host thread, shared by every control on it; false until a start-up marks the
// control safe, never cleared.
struct SafetyFlags {
  bool SafeForScripting = false;
  bool SafeForInitializing = false;
};

void MarkSafeForScripting(SafetyFlags& flags);

// Supported options are always both bits. A null `riid` succeeds without touching `enabled`;
// IDispatch answers from SafeForScripting, the three persistence interfaces from
// SafeForInitializing, any other interface gives E_NOINTERFACE. Null out-pointers give E_POINTER.
HResult GetInterfaceSafetyOptions(const SafetyFlags& flags, const Guid* riid, uint32_t* supported,
                                  uint32_t* enabled);

// Confirms a request only when mask AND enabled equals exactly the interface's bit and its flag
// is set; E_FAIL otherwise. A null `riid` succeeds. Never changes a flag.
HResult SetInterfaceSafetyOptions(const SafetyFlags& flags, const Guid* riid, uint32_t options_mask,
                                  uint32_t enabled_options);

}  // namespace moviletta
