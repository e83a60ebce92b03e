// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/thread_checker.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

#ifndef NDEBUG  // the checks exist in debug builds only
TEST(ThreadChecker, TheFirstCallerOwnsTheObjectUntilItIsHandedOver) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  ThreadChecker checker;
  checker.Check("here");
  checker.Check("here again");
  EXPECT_DEATH(std::thread([&] { checker.Check("Elsewhere"); }).join(),
               "Elsewhere called off the thread");
  checker.Detach();
  std::thread([&] { checker.Check("There"); }).join();
  EXPECT_DEATH(checker.Check("Back"), "Back called off the thread");
}

TEST(ThreadChecker, TheControlRefusesAMemberCalledOffTheHostThread) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  GreetingServerFixture server;
  server.SetSettings(SettingsDocument(server.address()));
  ControlHarness harness(server.address());
  ASSERT_EQ(harness.Start(), std::nullopt);
  EXPECT_DEATH(std::thread([&] { harness.control().StopVideo(); }).join(),
               "StopVideo called off the thread");
  EXPECT_DEATH(std::thread([&] { (void)harness.control().ClientStatus(); }).join(),
               "ClientStatus called off the thread");
}
#endif

}  // namespace
}  // namespace moviletta::testing
