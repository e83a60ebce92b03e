// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/loopback.h"

#include <gtest/gtest.h>

namespace moviletta {
namespace {

TEST(Loopback, OnlyAddressesOfThisMachineAreLoopbackNotNamesThatLookLikeThem) {
  for (const char* host : {"localhost", "127.0.0.1", "127.1.2.3", "[::1]", "::1"})
    EXPECT_TRUE(IsLoopbackHost(host)) << host;
  for (const char* host : {"127.example.net", "127.0.0.1.evil.test", "128.0.0.1", "localhost.test",
                           "", "[::2]", "::ffff:10.0.0.1", "0x7f.1"})
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

}  // namespace
}  // namespace moviletta
