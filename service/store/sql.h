// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace moviletta::service {

// One connection to the database as the greetings' records use it, whatever the engine:
// statements with `?` parameters, rows of text (a NULL column is nothing), one transaction at a
// time. Failures throw moviletta::Error 3001 (3002 for a unique key that is taken).
//
// Threads: any; calls are serialised, and a transaction holds the connection for the thread that
// runs it until it ends.
class Sql {
 public:
  using Value = std::variant<std::nullptr_t, int64_t, std::string>;
  using Row = std::vector<std::optional<std::string>>;

  virtual ~Sql() = default;

  // The rows the statement gives (none for a change).
  virtual std::vector<Row> Query(const std::string& sql, const std::vector<Value>& values = {}) = 0;
  // The number of rows the change touched.
  virtual int64_t Change(const std::string& sql, const std::vector<Value>& values = {}) = 0;
  // Runs `work` in one transaction: committed when it returns, rolled back when it throws.
  virtual void Transaction(const std::function<void()>& work) = 0;
  // What the engine adds to a SELECT to lock the rows it takes and skip those other nodes hold
  // ("" where the engine has one writer at a time).
  virtual std::string SkipLocked() const = 0;
  // Runs `work` if this connection takes the lock named `key`, which one connection at a time
  // holds among all that use the database (on every node); returns whether it ran. The lock is
  // let go when `work` ends (or throws), and with the connection if its process dies. Other
  // calls on this connection go on meanwhile.
  virtual bool Alone(int64_t key, const std::function<void()>& work) = 0;
};

// A connection to the database `url` names: "" or "sqlite:FILE" (`sqlite_default` when empty),
// or "postgresql://...". Throws Error 3001 when it cannot be opened.
std::unique_ptr<Sql> OpenSql(const std::string& url, const std::string& sqlite_default);

}  // namespace moviletta::service
