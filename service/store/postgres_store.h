// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "moviletta/common/mutex.h"
#include "service/store/store.h"

struct pg_conn;

namespace moviletta::service {

// The store in a PostgreSQL database, for one node or several sharing it. One connection, made
// again when it broke; members take turns on the store's mutex, each one transaction. Any thread.
class PostgresStore final : public Store {
 public:
  // Connects to `url` ("postgresql://user@host:port/database"); throws Error 3001 when it
  // cannot. Migrations are not applied until Migrate.
  explicit PostgresStore(const std::string& url);
  ~PostgresStore() override;

  int Migrate() override;
  std::optional<int64_t> SiteOf(const std::string& host) override;
  int64_t AddSite(const std::string& host) override;
  std::vector<std::string> Sites() override;
  std::map<std::string, std::string> Settings(int64_t site) override;
  void SetSettings(int64_t site, const std::map<std::string, std::string>& values) override;
  std::vector<Skin> Skins(int64_t site) override;
  std::optional<Skin> SkinOf(int64_t site, int32_t id) override;
  void PutSkin(int64_t site, const Skin& skin, const std::vector<std::string>& pictures) override;
  std::optional<std::string> SkinPicture(int64_t site, int32_t id, int32_t number) override;
  bool RemoveSkin(int64_t site, int32_t id) override;
  void MoveSkin(int64_t site, int32_t id, int32_t position) override;
  bool AddReport(int64_t site, const ErrorReport& report, int per_minute) override;
  std::vector<ErrorReport> Reports(int64_t site, const ReportFilter& filter) override;
  std::vector<std::pair<std::string, int64_t>> ReportsPerDay(int64_t site) override;
  int64_t Refused(int64_t site) override;
  bool Register(int64_t site, const std::string& installation, const std::string& version, Time at,
                int per_minute) override;
  std::vector<Registration> Registrations(int64_t site) override;
  void AddAdministrator(const std::string& name, const std::string& password_hash) override;
  std::optional<Administrator> AdministratorOf(const std::string& name) override;
  void SignInFailed(const std::string& name, Time at, int lock_after,
                    std::chrono::seconds lock_for) override;
  void SignInSucceeded(const std::string& name) override;
  void AddSession(const std::string& digest, const AdminSession& session) override;
  std::optional<AdminSession> SessionOf(const std::string& digest, Time now) override;
  void RemoveSession(const std::string& digest) override;

 private:
  struct Closer {
    void operator()(pg_conn* connection) const;
  };
  class Rows;
  // A parameter: text, or bytes sent as binary (bytea).
  struct Param {
    std::string value;
    bool binary = false;
    Param(std::string text) : value(std::move(text)) {}       // NOLINT: parameters read as values
    Param(const char* text) : value(text) {}                  // NOLINT
    Param(int64_t number) : value(std::to_string(number)) {}  // NOLINT
    Param(int32_t number) : value(std::to_string(number)) {}  // NOLINT
    static Param Bytes(std::string bytes) {
      Param p(std::move(bytes));
      p.binary = true;
      return p;
    }
  };

  // Runs `sql` with `params` ($1, $2, ...); its rows in text form. Throws Error.
  Rows Run(const char* sql, const std::vector<Param>& params = {}) REQUIRES(mutex_);
  // Runs `body` in one transaction: committed when it returns, rolled back when it throws.
  template <class Body>
  auto InTransaction(Body&& body) REQUIRES(mutex_);
  void CountRefused(int64_t site) REQUIRES(mutex_);

  std::string url_;
  Mutex mutex_;
  std::unique_ptr<pg_conn, Closer> connection_ GUARDED_BY(mutex_);
};

}  // namespace moviletta::service
