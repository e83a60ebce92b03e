// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/safety/object_safety.h"

namespace moviletta {
namespace {

enum class Group { kScripting, kInitialising, kUnknown };

Group GroupOf(const Guid& riid) {
  const std::string text = GuidToRegistryText(riid);
  if (text == kIID_IDispatch) return Group::kScripting;
  if (text == kIID_IPersistStorage || text == kIID_IPersistStream ||
      text == kIID_IPersistPropertyBag)
    return Group::kInitialising;
  return Group::kUnknown;
}

// Byte order of the groups in the text: Data1 and Data2, Data3 are stored little-endian.
constexpr std::array<int, 16> kTextOrder{3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr std::array<int, 4> kHyphenAfter{3, 5, 7, 9};  // positions in kTextOrder

}  // namespace

std::string GuidToRegistryText(const Guid& guid) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    const uint8_t byte = guid[static_cast<std::size_t>(kTextOrder[static_cast<std::size_t>(i)])];
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
    for (int h : kHyphenAfter)
      if (i == h) text += '-';
  }
  return text + "}";
}

std::optional<Guid> GuidFromRegistryText(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  Guid guid{};
  std::size_t pos = 1;
  for (int i = 0; i < 16; ++i) {
    unsigned value = 0;
    for (int nibble = 0; nibble < 2; ++nibble, ++pos) {
      const char c = text[pos];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    guid[static_cast<std::size_t>(kTextOrder[static_cast<std::size_t>(i)])] =
        static_cast<uint8_t>(value);
    for (int h : kHyphenAfter)
      if (i == h && text[pos++] != '-') return std::nullopt;
  }
  return guid;
}

void MarkSafeForScripting(SafetyFlags& flags) {
  flags.SafeForScripting = true;
  flags.SafeForInitializing = true;
}

HResult GetInterfaceSafetyOptions(const SafetyFlags& flags, const Guid* riid, uint32_t* supported,
                                  uint32_t* enabled) {
  if (!supported || !enabled) return E_POINTER;
  *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  if (!riid) return S_OK;
  switch (GroupOf(*riid)) {
    case Group::kScripting:
      *enabled = flags.SafeForScripting ? INTERFACESAFE_FOR_UNTRUSTED_CALLER : 0;
      return S_OK;
    case Group::kInitialising:
      *enabled = flags.SafeForInitializing ? INTERFACESAFE_FOR_UNTRUSTED_DATA : 0;
      return S_OK;
    case Group::kUnknown:
      break;
  }
  return E_NOINTERFACE;
}

HResult SetInterfaceSafetyOptions(const SafetyFlags& flags, const Guid* riid, uint32_t options_mask,
                                  uint32_t enabled_options) {
  if (!riid) return S_OK;
  const uint32_t requested = options_mask & enabled_options;
  switch (GroupOf(*riid)) {
    case Group::kScripting:
      return requested == INTERFACESAFE_FOR_UNTRUSTED_CALLER && flags.SafeForScripting ? S_OK
                                                                                       : E_FAIL;
    case Group::kInitialising:
      return requested == INTERFACESAFE_FOR_UNTRUSTED_DATA && flags.SafeForInitializing ? S_OK
                                                                                        : E_FAIL;
    case Group::kUnknown:
      break;
  }
  return E_NOINTERFACE;
}

}  // namespace moviletta
