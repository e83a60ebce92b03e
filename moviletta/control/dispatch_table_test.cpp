// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/control/dispatch_table.h"

#include <gtest/gtest.h>

#include <set>

#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

TEST(DispatchTable, HoldsTheWholeSurfaceWithItsIdentifiers) {
  const std::pair<const char*, int32_t> expected[] = {{"StatusChanged", 0x60030004},
                                                      {"ErrMsgChanged", 0x60030005},
                                                      {"SkinPath", 0x68030003},
                                                      {"RecordVideo", 0x60030008},
                                                      {"PlayVideo", 0x60030009},
                                                      {"StopVideo", 0x6003000A},
                                                      {"Miror", 0x68030002},
                                                      {"ClientStatus", 0x68030001},
                                                      {"ErrMsg", 0x68030000},
                                                      {"Miror", 0x68030002},
                                                      {"SendByEmail", 0x60030017},
                                                      {"SendGreeting", 0x60030018},
                                                      {"GetInstallationID", 0x60030020},
                                                      {"LoadSkin", 0x60030029},
                                                      {"SetVideoSize", 0x6003002D},
                                                      {"LoadClientSettings", 0x60030031},
                                                      {"SetXMLNode", 0x60030032},
                                                      {"GenerateMessageXML", 0x60030057},
                                                      {"OutboxList", 0x60030058},
                                                      {"OutboxSend", 0x60030059},
                                                      {"OutboxDiscard", 0x6003005A},
                                                      {"TrimTake", 0x6003005B},
                                                      {"TakeSeconds", 0x6003005C},
                                                      {"PauseVideo", 0x6003005D},
                                                      {"ResumeVideo", 0x6003005E},
                                                      {"CancelSend", 0x6003005F}};
  const auto table = DispatchTable();
  ASSERT_EQ(table.size(), std::size(expected));
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].name, expected[i].first);
    EXPECT_EQ(table[i].dispid, expected[i].second) << expected[i].first;
  }
  EXPECT_EQ(FindMember("Miror", MemberKind::kPropertyPut)->arity, 1u);
  EXPECT_EQ(FindMember("ClientStatus", MemberKind::kPropertyPut), nullptr)
      << "the page cannot write ClientStatus";
  EXPECT_EQ(FindMember("SkinPath", MemberKind::kPropertyPut), nullptr);
  EXPECT_EQ(FindMember("ErrMsg", MemberKind::kPropertyPut), nullptr);
}

TEST(DispatchTable, CallsConvertArgumentsAndFailAsScriptErrors) {
  GreetingServerFixture server;
  server.SetSettings(SettingsDocument(server.address()));
  ControlHarness harness(server.address());
  ASSERT_EQ(harness.Start(), std::nullopt);

  EXPECT_EQ(harness.Call("GetInstallationID").value, Variant("-1294967296"));
  EXPECT_EQ(harness.Call("ClientStatus", {}, MemberKind::kPropertyGet).value, Variant(1));
  EXPECT_EQ(harness.Call("Miror", {Variant("-1")}, MemberKind::kPropertyPut).error, std::nullopt);
  EXPECT_EQ(harness.Call("Miror", {}, MemberKind::kPropertyGet).value, Variant(true));
  EXPECT_EQ(harness.Call("StatusChanged").error, std::nullopt);

  const auto error_of = [&](std::string_view member, std::vector<Variant> args) {
    const CallOutcome outcome = harness.Call(member, std::move(args));
    return outcome.error ? outcome.error->number() : 0;
  };
  EXPECT_EQ(error_of("Explode", {}), err::kMemberNotFound);
  EXPECT_EQ(error_of("LoadSkin", {}), err::kWrongArgumentCount);
  EXPECT_EQ(error_of("LoadSkin", {Variant("five")}), err::kTypeMismatch);
  EXPECT_EQ(error_of("LoadSkin", {Variant(3e10)}), err::kOverflow);
  EXPECT_EQ(harness.control().ErrMsg(), "") << "a call refused by its arguments never ran";

  harness.site.Destroy();
  EXPECT_EQ(error_of("GetInstallationID", {}), err::kObjectNotSet) << "no control any more";
  const std::optional<Error> incomplete =
      harness.site.Create({}, {.app_directory = harness.app_directory}, true);
  ASSERT_TRUE(incomplete) << "a control without its components is refused, not a crash";
  EXPECT_EQ(incomplete->number(), err::kObjectNotSet);
  EXPECT_EQ(harness.site.control(), nullptr);
}

}  // namespace
}  // namespace moviletta::testing
