// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/store/postgres_store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <array>

#include "moviletta/common/error.h"
#include "service/store/migrations.h"
#include "service/store/store_errors.h"

namespace moviletta::service {
namespace {

// The day of a time kept in milliseconds, in UTC.
constexpr const char* kDay = "to_char(to_timestamp(at / 1000.0) AT TIME ZONE 'UTC', 'YYYY-MM-DD')";

struct ResultClear {
  void operator()(PGresult* result) const { PQclear(result); }
};

}  // namespace

void PostgresStore::Closer::operator()(pg_conn* connection) const {
  PQfinish(connection);
}

// The rows of one statement's result, in text form.
class PostgresStore::Rows {
 public:
  explicit Rows(PGresult* result) : result_(result) {}
  int size() const { return PQntuples(result_.get()); }
  bool Null(int row, int column) const { return PQgetisnull(result_.get(), row, column); }
  std::string Text(int row, int column) const {
    return std::string(PQgetvalue(result_.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
  }
  int64_t Int(int row, int column) const { return std::stoll(Text(row, column)); }
  std::string Bytes(int row, int column) const {
    std::size_t size = 0;
    unsigned char* bytes = PQunescapeBytea(
        reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row, column)), &size);
    if (!bytes) throw Error(7, "out of memory reading a picture", "Store");
    std::string copy(reinterpret_cast<const char*>(bytes), size);
    PQfreemem(bytes);
    return copy;
  }
  // The number of rows a change touched.
  int64_t Changed() const { return std::stoll(PQcmdTuples(result_.get())); }

 private:
  std::unique_ptr<PGresult, ResultClear> result_;
};

PostgresStore::PostgresStore(const std::string& url) : url_(url) {
  MutexLock lock(mutex_);
  connection_.reset(PQconnectdb(url.c_str()));
  if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK)
    throw Error(kErrDatabase,
                "cannot reach the database: " +
                    std::string(connection_ ? PQerrorMessage(connection_.get()) : "no memory"),
                "Store");
  // The server's notices ("already exists, skipping") are not failures: not printed.
  PQsetNoticeProcessor(
      connection_.get(), [](void*, const char*) {}, nullptr);
}

PostgresStore::~PostgresStore() = default;

PostgresStore::Rows PostgresStore::Run(const char* sql, const std::vector<Param>& params) {
  // A connection that broke (the server restarted) is made again before the statement.
  if (PQstatus(connection_.get()) != CONNECTION_OK) PQreset(connection_.get());
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const Param& param : params) {
    values.push_back(param.value.data());
    lengths.push_back(static_cast<int>(param.value.size()));
    formats.push_back(param.binary ? 1 : 0);
  }
  // Without parameters a statement may be several (a migration).
  PGresult* result = params.empty()
                         ? PQexec(connection_.get(), sql)
                         : PQexecParams(connection_.get(), sql, static_cast<int>(params.size()),
                                        nullptr, values.data(), lengths.data(), formats.data(), 0);
  Rows rows(result);
  const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string why = PQerrorMessage(connection_.get());
    if (state && std::string(state) == "23505")  // unique_violation
      throw Error(kErrTaken, "already there: " + why, "Store");
    throw Error(kErrDatabase, "database: " + why, "Store");
  }
  return rows;
}

template <class Body>
auto PostgresStore::InTransaction(Body&& body) {
  Run("BEGIN");
  try {
    if constexpr (std::is_void_v<decltype(body())>) {
      body();
      Run("COMMIT");
    } else {
      auto result = body();
      Run("COMMIT");
      return result;
    }
  } catch (...) {
    if (PQstatus(connection_.get()) == CONNECTION_OK) {
      PGresult* rollback = PQexec(connection_.get(), "ROLLBACK");
      PQclear(rollback);
    }
    throw;
  }
}

int PostgresStore::Migrate() {
  MutexLock lock(mutex_);
  return InTransaction([&]() REQUIRES(mutex_) {
    // One node migrates at a time; the others wait and find nothing left to do.
    Run("SELECT pg_advisory_xact_lock(7746001)");
    Run("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    const Rows read = Run("SELECT coalesce(max(version), 0) FROM schema_version");
    int version = static_cast<int>(read.Int(0, 0));
    for (const std::string& migration :
         PendingMigrations({"BIGSERIAL PRIMARY KEY", "BIGINT", "BYTEA"}, version)) {
      Run(migration.c_str());
      Run("INSERT INTO schema_version (version) VALUES ($1)", {int64_t{++version}});
    }
    return version;
  });
}

std::optional<int64_t> PostgresStore::SiteOf(const std::string& host) {
  MutexLock lock(mutex_);
  const Rows found = Run("SELECT id FROM sites WHERE host = $1", {host});
  if (!found.size()) return std::nullopt;
  return found.Int(0, 0);
}

int64_t PostgresStore::AddSite(const std::string& host) {
  MutexLock lock(mutex_);
  Run("INSERT INTO sites (host) VALUES ($1) ON CONFLICT (host) DO NOTHING", {host});
  return Run("SELECT id FROM sites WHERE host = $1", {host}).Int(0, 0);
}

std::vector<std::string> PostgresStore::Sites() {
  MutexLock lock(mutex_);
  const Rows all = Run("SELECT host FROM sites ORDER BY id");
  std::vector<std::string> hosts;
  for (int i = 0; i < all.size(); ++i) hosts.push_back(all.Text(i, 0));
  return hosts;
}

std::map<std::string, std::string> PostgresStore::Settings(int64_t site) {
  MutexLock lock(mutex_);
  const Rows all = Run("SELECT name, value FROM settings WHERE site = $1", {site});
  std::map<std::string, std::string> values;
  for (int i = 0; i < all.size(); ++i) values[all.Text(i, 0)] = all.Text(i, 1);
  return values;
}

void PostgresStore::SetSettings(int64_t site, const std::map<std::string, std::string>& values) {
  MutexLock lock(mutex_);
  InTransaction([&]() REQUIRES(mutex_) {
    for (const auto& [name, value] : values)
      Run("INSERT INTO settings (site, name, value) VALUES ($1, $2, $3) "
          "ON CONFLICT (site, name) DO UPDATE SET value = excluded.value",
          {site, name, value});
  });
}

namespace {

constexpr const char* kSkinColumns = "SELECT id, name, kind, frames, position FROM skins ";

}  // namespace

std::vector<Skin> PostgresStore::Skins(int64_t site) {
  MutexLock lock(mutex_);
  const Rows all =
      Run((std::string(kSkinColumns) + "WHERE site = $1 ORDER BY position, id").c_str(), {site});
  std::vector<Skin> skins;
  for (int i = 0; i < all.size(); ++i)
    skins.push_back({static_cast<int32_t>(all.Int(i, 0)), all.Text(i, 1), all.Text(i, 2),
                     static_cast<int32_t>(all.Int(i, 3)), static_cast<int32_t>(all.Int(i, 4))});
  return skins;
}

std::optional<Skin> PostgresStore::SkinOf(int64_t site, int32_t id) {
  MutexLock lock(mutex_);
  const Rows one =
      Run((std::string(kSkinColumns) + "WHERE site = $1 AND id = $2").c_str(), {site, id});
  if (!one.size()) return std::nullopt;
  return Skin{static_cast<int32_t>(one.Int(0, 0)), one.Text(0, 1), one.Text(0, 2),
              static_cast<int32_t>(one.Int(0, 3)), static_cast<int32_t>(one.Int(0, 4))};
}

void PostgresStore::PutSkin(int64_t site, const Skin& skin,
                            const std::vector<std::string>& pictures) {
  MutexLock lock(mutex_);
  InTransaction([&]() REQUIRES(mutex_) {
    const Rows place =
        Run("SELECT position FROM skins WHERE site = $1 AND id = $2 FOR UPDATE", {site, skin.id});
    const int64_t position =
        place.size()
            ? place.Int(0, 0)
            : Run("SELECT coalesce(max(position) + 1, 0) FROM skins WHERE site = $1", {site})
                  .Int(0, 0);
    Run("DELETE FROM skins WHERE site = $1 AND id = $2", {site, skin.id});
    Run("INSERT INTO skins (site, id, name, kind, frames, position) "
        "VALUES ($1, $2, $3, $4, $5, $6)",
        {site, skin.id, skin.name, skin.kind, static_cast<int64_t>(pictures.size()), position});
    for (std::size_t i = 0; i < pictures.size(); ++i)
      Run("INSERT INTO skin_pictures (site, skin, number, bytes) VALUES ($1, $2, $3, $4)",
          {site, skin.id, static_cast<int64_t>(i + 1), Param::Bytes(pictures[i])});
  });
}

std::optional<std::string> PostgresStore::SkinPicture(int64_t site, int32_t id, int32_t number) {
  MutexLock lock(mutex_);
  const Rows one =
      Run("SELECT bytes FROM skin_pictures WHERE site = $1 AND skin = $2 AND number = $3",
          {site, id, number});
  if (!one.size()) return std::nullopt;
  return one.Bytes(0, 0);
}

bool PostgresStore::RemoveSkin(int64_t site, int32_t id) {
  MutexLock lock(mutex_);
  return Run("DELETE FROM skins WHERE site = $1 AND id = $2", {site, id}).Changed() > 0;
}

void PostgresStore::MoveSkin(int64_t site, int32_t id, int32_t position) {
  MutexLock lock(mutex_);
  InTransaction([&]() REQUIRES(mutex_) {
    const Rows all =
        Run("SELECT id FROM skins WHERE site = $1 AND id != $2 ORDER BY position, id FOR UPDATE",
            {site, id});
    std::vector<int64_t> order;
    for (int i = 0; i < all.size(); ++i) order.push_back(all.Int(i, 0));
    order.insert(order.begin() + std::clamp<std::ptrdiff_t>(position, 0, std::ssize(order)), id);
    for (std::size_t i = 0; i < order.size(); ++i)
      Run("UPDATE skins SET position = $1 WHERE site = $2 AND id = $3",
          {static_cast<int64_t>(i), site, order[i]});
  });
}

void PostgresStore::CountRefused(int64_t site) {
  Run("INSERT INTO refused (site, count) VALUES ($1, 1) "
      "ON CONFLICT (site) DO UPDATE SET count = refused.count + 1",
      {site});
}

bool PostgresStore::AddReport(int64_t site, const ErrorReport& report, int per_minute) {
  MutexLock lock(mutex_);
  return InTransaction([&]() REQUIRES(mutex_) {
    // Reports of one installation are counted one at a time, whichever node takes them.
    Run("SELECT pg_advisory_xact_lock($1, hashtext($2))", {int64_t{7746002}, report.installation});
    const bool kept = Run("SELECT count(*) FROM error_reports WHERE site = $1 AND "
                          "installation = $2 AND at > $3",
                          {site, report.installation, Millis(report.at) - 60000})
                          .Int(0, 0) < per_minute;
    if (kept)
      Run("INSERT INTO error_reports (site, at, installation, version, function, section, code, "
          "description, source, add_info, query) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, "
          "$11)",
          {site, Millis(report.at), report.installation, report.version, report.function,
           report.section, report.code, report.description, report.source, report.add_info,
           report.query});
    else
      CountRefused(site);
    return kept;
  });
}

std::vector<ErrorReport> PostgresStore::Reports(int64_t site, const ReportFilter& filter) {
  MutexLock lock(mutex_);
  const Rows some =
      Run((std::string("SELECT at, installation, version, function, section, code, description, "
                       "source, add_info, query FROM error_reports WHERE site = $1 AND ($2 = '' "
                       "OR installation = $2) AND ($3 = '' OR function = $3) AND ($4 = '' OR ") +
           kDay + " = $4) ORDER BY at DESC, id DESC LIMIT $5")
              .c_str(),
          {site, filter.installation, filter.function, filter.day, int64_t{filter.limit}});
  std::vector<ErrorReport> reports;
  for (int i = 0; i < some.size(); ++i)
    reports.push_back({FromMillis(some.Int(i, 0)), some.Text(i, 1), some.Text(i, 2),
                       some.Text(i, 3), some.Text(i, 4), some.Text(i, 5), some.Text(i, 6),
                       some.Text(i, 7), some.Text(i, 8), some.Text(i, 9)});
  return reports;
}

std::vector<std::pair<std::string, int64_t>> PostgresStore::ReportsPerDay(int64_t site) {
  MutexLock lock(mutex_);
  const Rows days = Run((std::string("SELECT ") + kDay +
                         " AS day, count(*) FROM error_reports WHERE site = $1 GROUP BY day "
                         "ORDER BY day DESC")
                            .c_str(),
                        {site});
  std::vector<std::pair<std::string, int64_t>> counts;
  for (int i = 0; i < days.size(); ++i) counts.emplace_back(days.Text(i, 0), days.Int(i, 1));
  return counts;
}

int64_t PostgresStore::Refused(int64_t site) {
  MutexLock lock(mutex_);
  const Rows count = Run("SELECT count FROM refused WHERE site = $1", {site});
  return count.size() ? count.Int(0, 0) : 0;
}

bool PostgresStore::Register(int64_t site, const std::string& installation,
                             const std::string& version, Time at, int per_minute) {
  MutexLock lock(mutex_);
  const int64_t now = Millis(at);
  return InTransaction([&]() REQUIRES(mutex_) {
    Run("INSERT INTO registrations (site, installation, version, first_seen, last_seen, "
        "announcements, window_start, window_count) VALUES ($1, $2, $3, $4, $4, 0, $4, 0) "
        "ON CONFLICT (site, installation) DO NOTHING",
        {site, installation, version, now});
    const Rows known =
        Run("SELECT window_start, window_count FROM registrations WHERE site = $1 AND "
            "installation = $2 FOR UPDATE",
            {site, installation});
    const bool new_window = now - known.Int(0, 0) >= 60000;
    const bool kept = new_window || known.Int(0, 1) < per_minute;
    if (kept)
      Run("UPDATE registrations SET version = $1, last_seen = greatest(last_seen, $2), "
          "announcements = announcements + 1, window_start = $3, window_count = $4 "
          "WHERE site = $5 AND installation = $6",
          {version, now, new_window ? now : known.Int(0, 0),
           new_window ? int64_t{1} : known.Int(0, 1) + 1, site, installation});
    else
      CountRefused(site);
    return kept;
  });
}

std::vector<Registration> PostgresStore::Registrations(int64_t site) {
  MutexLock lock(mutex_);
  const Rows all =
      Run("SELECT installation, version, first_seen, last_seen, announcements FROM registrations "
          "WHERE site = $1 ORDER BY last_seen DESC, installation",
          {site});
  std::vector<Registration> found;
  for (int i = 0; i < all.size(); ++i)
    found.push_back({all.Text(i, 0), all.Text(i, 1), FromMillis(all.Int(i, 2)),
                     FromMillis(all.Int(i, 3)), all.Int(i, 4)});
  return found;
}

void PostgresStore::AddAdministrator(const std::string& name, const std::string& password_hash) {
  MutexLock lock(mutex_);
  Run("INSERT INTO administrators (name, password_hash) VALUES ($1, $2)", {name, password_hash});
}

std::optional<Administrator> PostgresStore::AdministratorOf(const std::string& name) {
  MutexLock lock(mutex_);
  const Rows one =
      Run("SELECT name, password_hash, failures, locked_until FROM administrators WHERE name = $1",
          {name});
  if (!one.size()) return std::nullopt;
  Administrator found{one.Text(0, 0), one.Text(0, 1), static_cast<int>(one.Int(0, 2)),
                      std::nullopt};
  if (!one.Null(0, 3)) found.locked_until = FromMillis(one.Int(0, 3));
  return found;
}

void PostgresStore::SignInFailed(const std::string& name, Time at, int lock_after,
                                 std::chrono::seconds lock_for) {
  MutexLock lock(mutex_);
  Run("UPDATE administrators SET failures = failures + 1, locked_until = CASE WHEN failures + 1 "
      ">= $1 THEN $2 ELSE locked_until END WHERE name = $3",
      {int64_t{lock_after}, Millis(at + lock_for), name});
}

void PostgresStore::SignInSucceeded(const std::string& name) {
  MutexLock lock(mutex_);
  Run("UPDATE administrators SET failures = 0, locked_until = NULL WHERE name = $1", {name});
}

void PostgresStore::AddSession(const std::string& digest, const AdminSession& session) {
  MutexLock lock(mutex_);
  Run("INSERT INTO admin_sessions (digest, name, csrf, expires) VALUES ($1, $2, $3, $4)",
      {digest, session.name, session.csrf, Millis(session.expires)});
}

std::optional<AdminSession> PostgresStore::SessionOf(const std::string& digest, Time now) {
  MutexLock lock(mutex_);
  Run("DELETE FROM admin_sessions WHERE expires <= $1", {Millis(now)});
  const Rows one =
      Run("SELECT name, csrf, expires FROM admin_sessions WHERE digest = $1", {digest});
  if (!one.size()) return std::nullopt;
  return AdminSession{one.Text(0, 0), one.Text(0, 1), FromMillis(one.Int(0, 2))};
}

void PostgresStore::RemoveSession(const std::string& digest) {
  MutexLock lock(mutex_);
  Run("DELETE FROM admin_sessions WHERE digest = $1", {digest});
}

}  // namespace moviletta::service
