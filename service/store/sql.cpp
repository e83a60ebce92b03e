// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/store/sql.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "moviletta/common/error.h"
#include "service/store/store_errors.h"

namespace moviletta::service {
namespace {

constexpr const char* kSource = "Store";

[[noreturn]] void Fail(bool taken, const std::string& why) {
  throw Error(taken ? kErrTaken : kErrDatabase, "database: " + why, kSource);
}

// The part both engines share: calls serialised on one connection, a transaction holding it for
// the thread that runs it. An engine runs one statement and rolls back.
class SerialSql : public Sql {
 public:
  std::vector<Row> Query(const std::string& sql, const std::vector<Value>& values) override {
    std::lock_guard lock(mutex_);
    return Run(sql, values).rows;
  }
  int64_t Change(const std::string& sql, const std::vector<Value>& values) override {
    std::lock_guard lock(mutex_);
    return Run(sql, values).changed;
  }
  void Transaction(const std::function<void()>& work) override {
    std::lock_guard lock(mutex_);
    Run(begin_, {});
    try {
      work();
      Run("COMMIT", {});
    } catch (...) {
      RollBack();
      throw;
    }
  }

 protected:
  struct Result {
    std::vector<Row> rows;
    int64_t changed = 0;
  };
  explicit SerialSql(const char* begin) : begin_(begin) {}
  virtual Result Run(const std::string& sql, const std::vector<Value>& values) = 0;
  // Ends a failed transaction; never throws.
  virtual void RollBack() = 0;

 private:
  const char* begin_;
  std::recursive_mutex mutex_;  // a transaction's work runs its statements inside it
};

class SqliteSql : public SerialSql {
 public:
  explicit SqliteSql(const std::string& path) : SerialSql("BEGIN IMMEDIATE"), path_(path) {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(db);
    if (rc != SQLITE_OK) Fail(false, "cannot open " + path + ": " + sqlite3_errstr(rc));
    sqlite3_busy_timeout(db, 10000);
    sqlite3_extended_result_codes(db, 1);
    for (const char* pragma :
         {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL", "PRAGMA foreign_keys = ON"})
      Query(pragma, {});
  }

  std::string SkipLocked() const override { return ""; }
  // A lock file beside the database, locked with flock(2): the system lets it go with the
  // process that held it.
  bool Alone(int64_t key, const std::function<void()>& work) override {
    const std::string lock_file = path_ + "-lock-" + std::to_string(key);
    const int opened = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (opened < 0) Fail(false, "cannot open " + lock_file + ": " + std::strerror(errno));
    const std::unique_ptr<const int, void (*)(const int*)> fd(&opened,
                                                              [](const int* f) { ::close(*f); });
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) return false;
      Fail(false, "cannot lock " + lock_file + ": " + std::strerror(errno));
    }
    work();  // closing the file lets the lock go
    return true;
  }

 private:
  void RollBack() override { sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr); }
  Result Run(const std::string& sql, const std::vector<Value>& values) override {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) Failed();
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int at = static_cast<int>(i) + 1;
      int rc = SQLITE_OK;
      if (const auto* number = std::get_if<int64_t>(&values[i]))
        rc = sqlite3_bind_int64(raw, at, *number);
      else if (const auto* text = std::get_if<std::string>(&values[i]))
        rc = sqlite3_bind_text(raw, at, text->data(), static_cast<int>(text->size()),
                               SQLITE_TRANSIENT);
      else
        rc = sqlite3_bind_null(raw, at);
      if (rc != SQLITE_OK) Failed();
    }
    Result result;
    for (int rc = sqlite3_step(raw);; rc = sqlite3_step(raw)) {
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) Failed();
      Row row;
      for (int column = 0; column < sqlite3_column_count(raw); ++column) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(raw, column));
        if (sqlite3_column_type(raw, column) == SQLITE_NULL)
          row.emplace_back();
        else
          row.emplace_back(bytes ? std::string(bytes, static_cast<std::size_t>(
                                                          sqlite3_column_bytes(raw, column)))
                                 : std::string());
      }
      result.rows.push_back(std::move(row));
    }
    result.changed = sqlite3_changes64(db_.get());
    return result;
  }
  [[noreturn]] void Failed() const {
    const int code = sqlite3_extended_errcode(db_.get());
    Fail(code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE,
         sqlite3_errmsg(db_.get()));
  }

  std::string path_;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db_{nullptr, sqlite3_close_v2};
};

class PostgresSql : public SerialSql {
 public:
  explicit PostgresSql(const std::string& url)
      : SerialSql("BEGIN"), connection_(PQconnectdb(url.c_str()), PQfinish) {
    if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK)
      Fail(false, "cannot reach the database: " +
                      std::string(connection_ ? PQerrorMessage(connection_.get()) : "no memory"));
    PQsetNoticeProcessor(
        connection_.get(), [](void*, const char*) {}, nullptr);
  }

  std::string SkipLocked() const override { return " FOR UPDATE SKIP LOCKED"; }
  // An advisory lock of the session.
  bool Alone(int64_t key, const std::function<void()>& work) override {
    const auto taken = Query("SELECT pg_try_advisory_lock(?::bigint)", {key});
    if (taken.empty() || taken[0][0] != "t") return false;
    try {
      work();
    } catch (...) {
      Unlock(key);
      throw;
    }
    Unlock(key);
    return true;
  }

 private:
  void RollBack() override {
    if (PQstatus(connection_.get()) == CONNECTION_OK)
      PQclear(PQexec(connection_.get(), "ROLLBACK"));
  }
  void Unlock(int64_t key) noexcept {
    try {
      Query("SELECT pg_advisory_unlock(?::bigint)", {key});
    } catch (const Error&) {  // a connection that broke has let its locks go
    }
  }
  // `?` becomes $1, $2, ... (the statements here hold no `?` in their texts).
  static std::string Numbered(const std::string& sql) {
    std::string out;
    int next = 0;
    for (const char c : sql) {
      if (c == '?')
        out += "$" + std::to_string(++next);
      else
        out += c;
    }
    return out;
  }
  Result Run(const std::string& sql, const std::vector<Value>& values) override {
    // A connection that broke (the server restarted) is made again, outside a transaction; its
    // prepared statements went with it.
    if (PQstatus(connection_.get()) != CONNECTION_OK) {
      PQreset(connection_.get());
      prepared_.clear();
    }
    std::vector<std::string> texts(values.size());
    std::vector<const char*> pointers(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (const auto* number = std::get_if<int64_t>(&values[i]))
        texts[i] = std::to_string(*number);
      else if (const auto* text = std::get_if<std::string>(&values[i]))
        texts[i] = *text;
      pointers[i] = std::holds_alternative<std::nullptr_t>(values[i]) ? nullptr : texts[i].c_str();
    }
    const int count = static_cast<int>(values.size());
    const std::string* name = Prepared(sql, count);
    const std::unique_ptr<PGresult, void (*)(PGresult*)> result(
        name ? PQexecPrepared(connection_.get(), name->c_str(), count, pointers.data(), nullptr,
                              nullptr, 0)
             : PQexecParams(connection_.get(), Numbered(sql).c_str(), count, nullptr,
                            pointers.data(), nullptr, nullptr, 0),
        PQclear);
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
      Fail(state && std::string(state) == "23505", PQerrorMessage(connection_.get()));
    }
    Result out;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      Row values_of_row;
      for (int column = 0; column < PQnfields(result.get()); ++column)
        if (PQgetisnull(result.get(), row, column))
          values_of_row.emplace_back();
        else
          values_of_row.emplace_back(
              std::string(PQgetvalue(result.get(), row, column),
                          static_cast<std::size_t>(PQgetlength(result.get(), row, column))));
      out.rows.push_back(std::move(values_of_row));
    }
    const char* changed = PQcmdTuples(result.get());
    out.changed = changed && *changed ? std::stoll(changed) : 0;
    return out;
  }

  // The name of `sql` prepared on this connection (parsed and planned by the server once), or
  // nothing where it cannot be: the statement then runs unprepared, and fails there if it must.
  const std::string* Prepared(const std::string& sql, int count) {
    if (const auto known = prepared_.find(sql); known != prepared_.end()) return &known->second;
    if (prepared_.size() >= kMostPrepared) return nullptr;
    std::string name = "s" + std::to_string(prepared_.size());
    const std::unique_ptr<PGresult, void (*)(PGresult*)> made(
        PQprepare(connection_.get(), name.c_str(), Numbered(sql).c_str(), count, nullptr),
        PQclear);
    if (!made || PQresultStatus(made.get()) != PGRES_COMMAND_OK) return nullptr;
    return &prepared_.emplace(sql, std::move(name)).first->second;
  }

  static constexpr std::size_t kMostPrepared = 256;
  std::unique_ptr<PGconn, void (*)(PGconn*)> connection_;
  std::unordered_map<std::string, std::string> prepared_;  // statement text: its name
};

}  // namespace

std::unique_ptr<Sql> OpenSql(const std::string& url, const std::string& sqlite_default) {
  if (url.starts_with("postgresql://") || url.starts_with("postgres://"))
    return std::make_unique<PostgresSql>(url);
  if (url.empty()) return std::make_unique<SqliteSql>(sqlite_default);
  if (url.starts_with("sqlite:")) return std::make_unique<SqliteSql>(url.substr(7));
  throw Error(2, "--database is sqlite:FILE or postgresql://...", kSource);
}

}  // namespace moviletta::service
