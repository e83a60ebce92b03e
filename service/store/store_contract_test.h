// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "service/store/store.h"

namespace moviletta::service {

// A store of the engine the test's parameter names ("sqlite", "postgresql"), new and migrated
// for each test.
class StoreContractTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::unique_ptr<Store> store_;
  std::string place_;  // the SQLite file of this test
  std::string url_;    // the database of this test, as --database names it
};

}  // namespace moviletta::service
