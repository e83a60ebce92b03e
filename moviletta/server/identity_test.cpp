// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/identity.h"

#include <gtest/gtest.h>

#include <set>

namespace moviletta {
namespace {

TEST(InstallationId, IsTheVolumeSerialReadAsSigned32Bit) {
  EXPECT_EQ(InstallationIdText(3000000000u), "-1294967296");
  EXPECT_EQ(InstallationIdText(0u), "0");
  EXPECT_EQ(InstallationIdText(4294967295u), "-1");
  EXPECT_EQ(InstallationIdText(2147483647u), "2147483647");
  EXPECT_EQ(InstallationIdText(std::nullopt), "-1");
  EXPECT_EQ(Identity([] { return std::optional<uint32_t>(); }).ComputeInstallationID(), "-1");
  EXPECT_EQ(Identity::GetClientVersion(), "1.6");
}

TEST(RandomToken, IsSixDigitsInRangeAndVaries) {
  Identity identity([] { return std::optional<uint32_t>(1); });
  std::set<std::string> seen;
  for (int i = 0; i < 5000; ++i) {
    const std::string token = identity.GenerateRandomToken();
    ASSERT_EQ(token.size(), 6u) << token;
    const int value = std::stoi(token);
    ASSERT_GE(value, 100001);
    ASSERT_LE(value, 999999);
    seen.insert(token);
  }
  EXPECT_GT(seen.size(), 4900u) << "tokens drawn in one second must not repeat like a re-seed";
}

}  // namespace
}  // namespace moviletta
