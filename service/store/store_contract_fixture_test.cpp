// SPDX-License-Identifier: GPL-3.0-or-later
// The engines the contract tests run on, each test on a store of its own.
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "service/store/postgres_store.h"
#include "service/store/sqlite_store.h"
#include "service/store/store_contract_test.h"
#include "tests/fixtures/postgres_server.h"

namespace moviletta::service {

void StoreContractTest::SetUp() {
  static std::atomic<int> made{0};
  const std::string name = "store-" + std::to_string(getpid()) + "-" + std::to_string(++made);
  if (GetParam() == "postgresql") {
    url_ = testing::PostgresServer::Shared().NewDatabase();
    store_ = std::make_unique<PostgresStore>(url_);
  } else {
    place_ = (std::filesystem::path(::testing::TempDir()) / (name + ".sqlite3")).string();
    url_ = "sqlite:" + place_;
    store_ = std::make_unique<SqliteStore>(place_);
  }
  store_->Migrate();
}

void StoreContractTest::TearDown() {
  store_.reset();
  if (!place_.empty())
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(place_ + suffix);
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreContractTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& engine) { return engine.param; });

}  // namespace moviletta::service
