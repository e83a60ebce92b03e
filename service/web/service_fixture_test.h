// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <httplib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "service/store/postgres_store.h"
#include "service/store/sqlite_store.h"
#include "service/web/admin_routes.h"
#include "service/web/protocol_routes.h"
#include "service/web/secrets.h"
#include "service/web/site_settings.h"
#include "tests/fixtures/postgres_server.h"

namespace moviletta::service {

// The service's routes on 127.0.0.1 over a store of their own, of the engine the parameter names
// ("sqlite", "postgresql"), with a clock the test sets; the site "127.0.0.1:<port>" exists with
// the default settings.
class ServiceTest : public ::testing::TestWithParam<std::string> {
 protected:
  ServiceTest() {
    InitSecrets();
    store_.Migrate();
    admin_.ShowGreetings(greetings_, ::testing::TempDir());
    protocol_.Register(server_);
    admin_.Register(server_);
    port_ = server_.bind_to_any_port("127.0.0.1");
    host_ = "127.0.0.1:" + std::to_string(port_);
    site_ = MakeSite(store_, host_);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~ServiceTest() override {
    server_.stop();
    thread_.join();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file_ + suffix);
  }

  std::string address() const { return "http://" + host_; }

  inline static std::atomic<int> made_{0};
  std::string file_ =
      (std::filesystem::path(::testing::TempDir()) /
       ("service-" + std::to_string(getpid()) + "-" + std::to_string(++made_) + ".sqlite3"))
          .string();
  std::string url_ = GetParam() == "postgresql" ? testing::PostgresServer::Shared().NewDatabase()
                                                : "sqlite:" + file_;
  std::unique_ptr<Store> engine_ =
      GetParam() == "postgresql" ? std::unique_ptr<Store>(std::make_unique<PostgresStore>(url_))
                                 : std::make_unique<SqliteStore>(file_);
  Store& store_ = *engine_;
  Greetings greetings_{OpenSql(url_, "")};
  Time now_ = Time(std::chrono::hours(24 * 20000 + 12));
  Clock clock_ = [this] { return now_; };
  ProtocolRoutes protocol_{store_, clock_, ProtocolRoutes::Limits{3, 2}};
  AdminRoutes admin_{store_, clock_, AdminRoutes::Policy{3}};
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::string host_;
  int64_t site_ = 0;
};

}  // namespace moviletta::service
