// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/safety/object_safety.h"

#include <gtest/gtest.h>

#include "moviletta/common/constants.h"

namespace moviletta {
namespace {

Guid Parse(std::string_view text) {
  return GuidFromRegistryText(text).value();
}

TEST(GuidText, WritesTheRegistryFormFromThePlatformByteLayout) {
  // IDispatch as the platform stores it: Data1..Data3 little-endian, then the 8 bytes of Data4.
  const Guid idispatch{0x00, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                       0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  EXPECT_EQ(GuidToRegistryText(idispatch), kIID_IDispatch);
  EXPECT_EQ(GuidToRegistryText(Parse("{37d84f60-42cb-11ce-8135-00aa004bb851}")),
            kIID_IPersistPropertyBag);
  EXPECT_EQ(GuidToRegistryText(Parse(kClassId)), kClassId);
  EXPECT_FALSE(GuidFromRegistryText("{37D84F60-42CB-11CE-8135-00AA004BB85}"));
  EXPECT_FALSE(GuidFromRegistryText("{37D84F60+42CB-11CE-8135-00AA004BB851}"));
  EXPECT_FALSE(GuidFromRegistryText("{37D84F60-42CB-11CE-8135-00AA004BB85G}"));
}

TEST(GetInterfaceSafetyOptions, AnswersPerInterfaceFromTheFlags) {
  SafetyFlags flags;
  const Guid dispatch = Parse(kIID_IDispatch), bag = Parse(kIID_IPersistPropertyBag),
             stream = Parse(kIID_IPersistStream), storage = Parse(kIID_IPersistStorage),
             events = Parse(kEventInterfaceId);
  uint32_t supported = 0, enabled = 77;

  EXPECT_EQ(GetInterfaceSafetyOptions(flags, &dispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u) << "not safe before start-up";

  MarkSafeForScripting(flags);
  EXPECT_EQ(GetInterfaceSafetyOptions(flags, &dispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 1u);
  for (const Guid* persistence : {&bag, &stream, &storage}) {
    enabled = 77;
    EXPECT_EQ(GetInterfaceSafetyOptions(flags, persistence, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 2u);
  }

  supported = 0, enabled = 77;
  EXPECT_EQ(GetInterfaceSafetyOptions(flags, &events, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 77u);
  supported = 0;
  EXPECT_EQ(GetInterfaceSafetyOptions(flags, nullptr, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 77u);
  EXPECT_EQ(GetInterfaceSafetyOptions(flags, &dispatch, nullptr, &enabled), E_POINTER);
}

TEST(SetInterfaceSafetyOptions, ConfirmsOnlyTheExactBitOfEachInterface) {
  SafetyFlags flags;
  MarkSafeForScripting(flags);
  const Guid dispatch = Parse(kIID_IDispatch), stream = Parse(kIID_IPersistStream),
             other = Parse(kClassId);
  struct Case {
    const Guid* riid;
    uint32_t mask, enabled;
    HResult expected;
  };
  const Case cases[] = {
      {&dispatch, 1, 1, S_OK},   {&dispatch, 3, 3, E_FAIL}, {&dispatch, 1, 0, E_FAIL},
      {&dispatch, 2, 2, E_FAIL}, {&dispatch, 0, 0, E_FAIL}, {&stream, 2, 2, S_OK},
      {&stream, 2, 3, S_OK},     {&stream, 1, 1, E_FAIL},   {&other, 1, 1, E_NOINTERFACE},
      {nullptr, 3, 3, S_OK},     {nullptr, 0, 0, S_OK},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SetInterfaceSafetyOptions(flags, c.riid, c.mask, c.enabled), c.expected)
        << "mask " << c.mask << " enabled " << c.enabled;

  const SafetyFlags unsafe;
  EXPECT_EQ(SetInterfaceSafetyOptions(unsafe, &dispatch, 1, 1), E_FAIL);
  EXPECT_EQ(SetInterfaceSafetyOptions(unsafe, &stream, 2, 2), E_FAIL);
}

}  // namespace
}  // namespace moviletta
