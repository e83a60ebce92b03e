// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/store/sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <utility>

#include "moviletta/common/error.h"
#include "service/store/migrations.h"
#include "service/store/store_errors.h"

namespace moviletta::service {
void SqliteStore::Closer::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

// One prepared statement: binds by position from 1, steps, reads columns from 0.
class SqliteStore::Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(Statement&& other) noexcept : db_(other.db_), stmt_(std::exchange(other.stmt_, {})) {}
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  Statement& Bind(int at, int64_t value) {
    Check(sqlite3_bind_int64(stmt_, at, value));
    return *this;
  }
  Statement& Bind(int at, const std::string& text) {
    Check(
        sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindBlob(int at, const std::string& bytes) {
    Check(sqlite3_bind_blob(stmt_, at, bytes.data(), static_cast<int>(bytes.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  // Whether a row came.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail();
    return false;
  }
  void Run() {
    while (Step()) {
    }
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool Null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  std::string Text(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail();
  }
  [[noreturn]] void Fail() const {
    if (sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_PRIMARYKEY ||
        sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE)
      throw Error(kErrTaken, std::string("already there: ") + sqlite3_errmsg(db_), "Store");
    throw Error(kErrDatabase, std::string("database: ") + sqlite3_errmsg(db_), "Store");
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE .. COMMIT; rolled back when left without Commit. Made and ended within a
// member that holds the store's mutex.
class SqliteStore::Transaction {
 public:
  explicit Transaction(SqliteStore& store) REQUIRES(store.mutex_) : db_(store.db_.get()) {
    store.Execute("BEGIN IMMEDIATE");
  }
  ~Transaction() {
    if (db_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit() {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw Error(kErrDatabase, std::string("database: ") + sqlite3_errmsg(db_), "Store");
    db_ = nullptr;
  }

 private:
  sqlite3* db_;
};

SqliteStore::SqliteStore(const std::string& path) {
  // Created owner-only before SQLite opens it: what it holds is the site owner's alone.
  if (const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); fd >= 0) ::close(fd);
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  MutexLock lock(mutex_);
  db_.reset(db);
  if (rc != SQLITE_OK)
    throw Error(kErrDatabase, "cannot open the database " + path + ": " + sqlite3_errstr(rc),
                "Store");
  sqlite3_busy_timeout(db, 5000);
  sqlite3_extended_result_codes(db, 1);
  Execute("PRAGMA journal_mode = WAL");
  Execute("PRAGMA synchronous = FULL");
  Execute("PRAGMA foreign_keys = ON");
}

SqliteStore::~SqliteStore() = default;

SqliteStore::Statement SqliteStore::Prepare(const char* sql) {
  return Statement(db_.get(), sql);
}

void SqliteStore::Execute(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string why = message ? message : "failed";
    sqlite3_free(message);
    throw Error(kErrDatabase, "database: " + why, "Store");
  }
}

int SqliteStore::Migrate() {
  MutexLock lock(mutex_);
  Transaction transaction(*this);
  Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  Statement read = Prepare("SELECT max(version) FROM schema_version");
  int version = read.Step() && !read.Null(0) ? static_cast<int>(read.Int(0)) : 0;
  for (const std::string& migration :
       PendingMigrations({"INTEGER PRIMARY KEY", "INTEGER", "BLOB"}, version)) {
    Execute(migration.c_str());
    Prepare("INSERT INTO schema_version (version) VALUES (?)").Bind(1, ++version).Run();
  }
  transaction.Commit();
  return version;
}

std::optional<int64_t> SqliteStore::SiteOf(const std::string& host) {
  MutexLock lock(mutex_);
  Statement find = Prepare("SELECT id FROM sites WHERE host = ?");
  find.Bind(1, host);
  if (!find.Step()) return std::nullopt;
  return find.Int(0);
}

int64_t SqliteStore::AddSite(const std::string& host) {
  MutexLock lock(mutex_);
  Prepare("INSERT INTO sites (host) VALUES (?) ON CONFLICT (host) DO NOTHING").Bind(1, host).Run();
  Statement find = Prepare("SELECT id FROM sites WHERE host = ?");
  find.Bind(1, host).Step();
  return find.Int(0);
}

std::vector<std::string> SqliteStore::Sites() {
  MutexLock lock(mutex_);
  std::vector<std::string> hosts;
  for (Statement all = Prepare("SELECT host FROM sites ORDER BY id"); all.Step();)
    hosts.push_back(all.Text(0));
  return hosts;
}

std::map<std::string, std::string> SqliteStore::Settings(int64_t site) {
  MutexLock lock(mutex_);
  std::map<std::string, std::string> values;
  Statement all = Prepare("SELECT name, value FROM settings WHERE site = ?");
  for (all.Bind(1, site); all.Step();) values[all.Text(0)] = all.Text(1);
  return values;
}

void SqliteStore::SetSettings(int64_t site, const std::map<std::string, std::string>& values) {
  MutexLock lock(mutex_);
  Transaction transaction(*this);
  for (const auto& [name, value] : values)
    Prepare(
        "INSERT INTO settings (site, name, value) VALUES (?, ?, ?) "
        "ON CONFLICT (site, name) DO UPDATE SET value = excluded.value")
        .Bind(1, site)
        .Bind(2, name)
        .Bind(3, value)
        .Run();
  transaction.Commit();
}

namespace {
constexpr const char* kSkinColumns = "SELECT id, name, kind, frames, position FROM skins ";
}

std::vector<Skin> SqliteStore::Skins(int64_t site) {
  MutexLock lock(mutex_);
  std::vector<Skin> skins;
  Statement all =
      Prepare((std::string(kSkinColumns) + "WHERE site = ? ORDER BY position, id").c_str());
  for (all.Bind(1, site); all.Step();)
    skins.push_back({static_cast<int32_t>(all.Int(0)), all.Text(1), all.Text(2),
                     static_cast<int32_t>(all.Int(3)), static_cast<int32_t>(all.Int(4))});
  return skins;
}

std::optional<Skin> SqliteStore::SkinOf(int64_t site, int32_t id) {
  MutexLock lock(mutex_);
  Statement one = Prepare((std::string(kSkinColumns) + "WHERE site = ? AND id = ?").c_str());
  if (!one.Bind(1, site).Bind(2, id).Step()) return std::nullopt;
  return Skin{static_cast<int32_t>(one.Int(0)), one.Text(1), one.Text(2),
              static_cast<int32_t>(one.Int(3)), static_cast<int32_t>(one.Int(4))};
}

void SqliteStore::PutSkin(int64_t site, const Skin& skin,
                          const std::vector<std::string>& pictures) {
  MutexLock lock(mutex_);
  Transaction transaction(*this);
  Statement place = Prepare("SELECT position FROM skins WHERE site = ? AND id = ?");
  int64_t position = 0;
  if (place.Bind(1, site).Bind(2, skin.id).Step()) {
    position = place.Int(0);
  } else {
    Statement last = Prepare("SELECT coalesce(max(position) + 1, 0) FROM skins WHERE site = ?");
    last.Bind(1, site).Step();
    position = last.Int(0);
  }
  Prepare("DELETE FROM skins WHERE site = ? AND id = ?").Bind(1, site).Bind(2, skin.id).Run();
  Prepare("INSERT INTO skins (site, id, name, kind, frames, position) VALUES (?, ?, ?, ?, ?, ?)")
      .Bind(1, site)
      .Bind(2, skin.id)
      .Bind(3, skin.name)
      .Bind(4, skin.kind)
      .Bind(5, static_cast<int64_t>(pictures.size()))
      .Bind(6, position)
      .Run();
  for (std::size_t i = 0; i < pictures.size(); ++i)
    Prepare("INSERT INTO skin_pictures (site, skin, number, bytes) VALUES (?, ?, ?, ?)")
        .Bind(1, site)
        .Bind(2, skin.id)
        .Bind(3, static_cast<int64_t>(i + 1))
        .BindBlob(4, pictures[i])
        .Run();
  transaction.Commit();
}

std::optional<std::string> SqliteStore::SkinPicture(int64_t site, int32_t id, int32_t number) {
  MutexLock lock(mutex_);
  Statement one =
      Prepare("SELECT bytes FROM skin_pictures WHERE site = ? AND skin = ? AND number = ?");
  if (!one.Bind(1, site).Bind(2, id).Bind(3, number).Step()) return std::nullopt;
  return one.Text(0);
}

bool SqliteStore::RemoveSkin(int64_t site, int32_t id) {
  MutexLock lock(mutex_);
  Prepare("DELETE FROM skins WHERE site = ? AND id = ?").Bind(1, site).Bind(2, id).Run();
  return sqlite3_changes(db_.get()) > 0;
}

void SqliteStore::MoveSkin(int64_t site, int32_t id, int32_t position) {
  MutexLock lock(mutex_);
  Transaction transaction(*this);
  std::vector<int64_t> order;
  Statement all = Prepare("SELECT id FROM skins WHERE site = ? AND id != ? ORDER BY position, id");
  for (all.Bind(1, site).Bind(2, id); all.Step();) order.push_back(all.Int(0));
  order.insert(order.begin() + std::clamp<std::ptrdiff_t>(position, 0, std::ssize(order)), id);
  for (std::size_t i = 0; i < order.size(); ++i)
    Prepare("UPDATE skins SET position = ? WHERE site = ? AND id = ?")
        .Bind(1, static_cast<int64_t>(i))
        .Bind(2, site)
        .Bind(3, order[i])
        .Run();
  transaction.Commit();
}

void SqliteStore::CountRefused(int64_t site) {
  Prepare(
      "INSERT INTO refused (site, count) VALUES (?, 1) "
      "ON CONFLICT (site) DO UPDATE SET count = count + 1")
      .Bind(1, site)
      .Run();
}

bool SqliteStore::AddReport(int64_t site, const ErrorReport& report, int per_minute) {
  MutexLock lock(mutex_);
  Transaction transaction(*this);
  Statement recent =
      Prepare("SELECT count(*) FROM error_reports WHERE site = ? AND installation = ? AND at > ?");
  recent.Bind(1, site).Bind(2, report.installation).Bind(3, Millis(report.at) - 60000).Step();
  const bool kept = recent.Int(0) < per_minute;
  if (kept)
    Prepare(
        "INSERT INTO error_reports (site, at, installation, version, function, section, code, "
        "description, source, add_info, query) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, site)
        .Bind(2, Millis(report.at))
        .Bind(3, report.installation)
        .Bind(4, report.version)
        .Bind(5, report.function)
        .Bind(6, report.section)
        .Bind(7, report.code)
        .Bind(8, report.description)
        .Bind(9, report.source)
        .Bind(10, report.add_info)
        .Bind(11, report.query)
        .Run();
  else
    CountRefused(site);
  transaction.Commit();
  return kept;
}

std::vector<ErrorReport> SqliteStore::Reports(int64_t site, const ReportFilter& filter) {
  MutexLock lock(mutex_);
  Statement some = Prepare(
      "SELECT at, installation, version, function, section, code, description, source, add_info, "
      "query FROM error_reports WHERE site = ? AND (? = '' OR installation = ?) "
      "AND (? = '' OR function = ?) AND (? = '' OR date(at / 1000, 'unixepoch') = ?) "
      "ORDER BY at DESC, id DESC LIMIT ?");
  some.Bind(1, site)
      .Bind(2, filter.installation)
      .Bind(3, filter.installation)
      .Bind(4, filter.function)
      .Bind(5, filter.function)
      .Bind(6, filter.day)
      .Bind(7, filter.day)
      .Bind(8, filter.limit);
  std::vector<ErrorReport> reports;
  while (some.Step())
    reports.push_back({FromMillis(some.Int(0)), some.Text(1), some.Text(2), some.Text(3),
                       some.Text(4), some.Text(5), some.Text(6), some.Text(7), some.Text(8),
                       some.Text(9)});
  return reports;
}

std::vector<std::pair<std::string, int64_t>> SqliteStore::ReportsPerDay(int64_t site) {
  MutexLock lock(mutex_);
  Statement days = Prepare(
      "SELECT date(at / 1000, 'unixepoch') AS day, count(*) FROM error_reports WHERE site = ? "
      "GROUP BY day ORDER BY day DESC");
  std::vector<std::pair<std::string, int64_t>> counts;
  for (days.Bind(1, site); days.Step();) counts.emplace_back(days.Text(0), days.Int(1));
  return counts;
}

int64_t SqliteStore::Refused(int64_t site) {
  MutexLock lock(mutex_);
  Statement count = Prepare("SELECT count FROM refused WHERE site = ?");
  return count.Bind(1, site).Step() ? count.Int(0) : 0;
}

bool SqliteStore::Register(int64_t site, const std::string& installation,
                           const std::string& version, Time at, int per_minute) {
  MutexLock lock(mutex_);
  Transaction transaction(*this);
  const int64_t now = Millis(at);
  Statement known = Prepare(
      "SELECT window_start, window_count FROM registrations WHERE site = ? AND installation = ?");
  bool kept = true;
  if (!known.Bind(1, site).Bind(2, installation).Step()) {
    Prepare(
        "INSERT INTO registrations (site, installation, version, first_seen, last_seen, "
        "announcements, window_start, window_count) VALUES (?, ?, ?, ?, ?, 1, ?, 1)")
        .Bind(1, site)
        .Bind(2, installation)
        .Bind(3, version)
        .Bind(4, now)
        .Bind(5, now)
        .Bind(6, now)
        .Run();
  } else {
    const bool new_window = now - known.Int(0) >= 60000;
    kept = new_window || known.Int(1) < per_minute;
    if (kept)
      Prepare(
          "UPDATE registrations SET version = ?, last_seen = max(last_seen, ?), "
          "announcements = announcements + 1, window_start = ?, window_count = ? "
          "WHERE site = ? AND installation = ?")
          .Bind(1, version)
          .Bind(2, now)
          .Bind(3, new_window ? now : known.Int(0))
          .Bind(4, new_window ? 1 : known.Int(1) + 1)
          .Bind(5, site)
          .Bind(6, installation)
          .Run();
    else
      CountRefused(site);
  }
  transaction.Commit();
  return kept;
}

std::vector<Registration> SqliteStore::Registrations(int64_t site) {
  MutexLock lock(mutex_);
  Statement all = Prepare(
      "SELECT installation, version, first_seen, last_seen, announcements FROM registrations "
      "WHERE site = ? ORDER BY last_seen DESC, installation");
  std::vector<Registration> found;
  for (all.Bind(1, site); all.Step();)
    found.push_back(
        {all.Text(0), all.Text(1), FromMillis(all.Int(2)), FromMillis(all.Int(3)), all.Int(4)});
  return found;
}

void SqliteStore::AddAdministrator(const std::string& name, const std::string& password_hash) {
  MutexLock lock(mutex_);
  Prepare("INSERT INTO administrators (name, password_hash) VALUES (?, ?)")
      .Bind(1, name)
      .Bind(2, password_hash)
      .Run();
}

std::optional<Administrator> SqliteStore::AdministratorOf(const std::string& name) {
  MutexLock lock(mutex_);
  Statement one = Prepare(
      "SELECT name, password_hash, failures, locked_until FROM administrators WHERE name = ?");
  if (!one.Bind(1, name).Step()) return std::nullopt;
  Administrator found{one.Text(0), one.Text(1), static_cast<int>(one.Int(2)), std::nullopt};
  if (!one.Null(3)) found.locked_until = FromMillis(one.Int(3));
  return found;
}

void SqliteStore::SignInFailed(const std::string& name, Time at, int lock_after,
                               std::chrono::seconds lock_for) {
  MutexLock lock(mutex_);
  Prepare(
      "UPDATE administrators SET failures = failures + 1, locked_until = CASE WHEN failures + 1 "
      ">= ? THEN ? ELSE locked_until END WHERE name = ?")
      .Bind(1, lock_after)
      .Bind(2, Millis(at + lock_for))
      .Bind(3, name)
      .Run();
}

void SqliteStore::SignInSucceeded(const std::string& name) {
  MutexLock lock(mutex_);
  Prepare("UPDATE administrators SET failures = 0, locked_until = NULL WHERE name = ?")
      .Bind(1, name)
      .Run();
}

void SqliteStore::AddSession(const std::string& digest, const AdminSession& session) {
  MutexLock lock(mutex_);
  Prepare("INSERT INTO admin_sessions (digest, name, csrf, expires) VALUES (?, ?, ?, ?)")
      .Bind(1, digest)
      .Bind(2, session.name)
      .Bind(3, session.csrf)
      .Bind(4, Millis(session.expires))
      .Run();
}

std::optional<AdminSession> SqliteStore::SessionOf(const std::string& digest, Time now) {
  MutexLock lock(mutex_);
  Prepare("DELETE FROM admin_sessions WHERE expires <= ?").Bind(1, Millis(now)).Run();
  Statement one = Prepare("SELECT name, csrf, expires FROM admin_sessions WHERE digest = ?");
  if (!one.Bind(1, digest).Step()) return std::nullopt;
  return AdminSession{one.Text(0), one.Text(1), FromMillis(one.Int(2))};
}

void SqliteStore::RemoveSession(const std::string& digest) {
  MutexLock lock(mutex_);
  Prepare("DELETE FROM admin_sessions WHERE digest = ?").Bind(1, digest).Run();
}

}  // namespace moviletta::service
