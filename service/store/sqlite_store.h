// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "moviletta/common/mutex.h"
#include "service/store/store.h"

struct sqlite3;

namespace moviletta::service {

// The store in one SQLite file (WAL, foreign keys on): the embedded engine for one machine.
// One connection, one writer: members take turns on the store's mutex. Any thread.
class SqliteStore final : public Store {
 public:
  // Opens (creating it, 0600) the database file at `path`; throws Error 3001 when it cannot.
  // Migrations are not applied until Migrate.
  explicit SqliteStore(const std::string& path);
  ~SqliteStore() override;

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
    void operator()(sqlite3* db) const;
  };
  class Statement;
  class Transaction;

  Statement Prepare(const char* sql) REQUIRES(mutex_);
  void Execute(const char* sql) REQUIRES(mutex_);
  void CountRefused(int64_t site) REQUIRES(mutex_);

  Mutex mutex_;
  std::unique_ptr<sqlite3, Closer> db_ GUARDED_BY(mutex_);
};

}  // namespace moviletta::service
