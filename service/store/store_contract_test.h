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
  std::string place_;  // the engine's database of this test
};

}  // namespace moviletta::service
