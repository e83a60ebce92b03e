// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace moviletta::service {

using Time = std::chrono::system_clock::time_point;
// The time now; injected so that tests set it.
using Clock = std::function<Time()>;

// A time as the databases keep it: milliseconds since the epoch.
inline int64_t Millis(Time at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}
inline Time FromMillis(int64_t ms) {
  return Time(std::chrono::milliseconds(ms));
}

// A skin of a site's catalogue: an animated one ("SKIN", its frames in order) or a static one
// ("STATIC", one picture). `id` is the skin id the studio asks for.
struct Skin {
  int32_t id = 0;
  std::string name;
  std::string kind;  // "SKIN" or "STATIC"
  int32_t frames = 0;
  int32_t position = 0;  // its place in the catalogue, from 0

  friend bool operator==(const Skin&, const Skin&) = default;
};

// One error report of a studio, every query field kept as received (length-capped).
struct ErrorReport {
  Time at;
  std::string installation, version, function, section, code, description, source, add_info;
  std::string query;  // the whole query, key=value lines, for fields no column names
};

struct ReportFilter {
  std::string installation;  // "" any
  std::string function;      // "" any
  std::string day;           // "YYYY-MM-DD" (UTC), "" any
  int limit = 200;
};

// An installation that announced itself.
struct Registration {
  std::string installation, version;
  Time first_seen, last_seen;
  int64_t announcements = 0;
};

// An administrator's sign-in record.
struct Administrator {
  std::string name;
  std::string password_hash;  // libsodium's argon2id string
  int failures = 0;           // failed sign-ins since the last good one
  std::optional<Time> locked_until;
};

// An administrator's signed-in session, by the digest of its cookie.
struct AdminSession {
  std::string name;
  std::string csrf;
  Time expires;
};

// What the greeting service keeps: its sites, each site's settings, skins, error log and
// registrations, and the administrators. One interface, two engines (SQLite by default);
// every member is one transaction. Members throw moviletta::Error when the database fails
// (number 3001), never leaving a change half made. Safe to call from several threads at once.
class Store {
 public:
  virtual ~Store() = default;

  // Applies the numbered migrations not yet applied, in order; returns the schema's version.
  virtual int Migrate() = 0;

  // Sites, by host name (a request's Host, with its port when it names one).
  virtual std::optional<int64_t> SiteOf(const std::string& host) = 0;
  // Adds the site, or returns the one of that host.
  virtual int64_t AddSite(const std::string& host) = 0;
  virtual std::vector<std::string> Sites() = 0;

  // The site's settings: element name to text, only those that were set.
  virtual std::map<std::string, std::string> Settings(int64_t site) = 0;
  // Sets these settings (the others stay as they are).
  virtual void SetSettings(int64_t site, const std::map<std::string, std::string>& values) = 0;

  // The catalogue, in its order.
  virtual std::vector<Skin> Skins(int64_t site) = 0;
  virtual std::optional<Skin> SkinOf(int64_t site, int32_t id) = 0;
  // Adds the skin with its pictures (GIF files, frame 1 first), or replaces the skin of that id;
  // at the end of the catalogue when new.
  virtual void PutSkin(int64_t site, const Skin& skin,
                       const std::vector<std::string>& pictures) = 0;
  // Picture `number` (from 1) of the skin; nothing when there is none.
  virtual std::optional<std::string> SkinPicture(int64_t site, int32_t id, int32_t number) = 0;
  virtual bool RemoveSkin(int64_t site, int32_t id) = 0;
  // Moves the skin to `position` in the catalogue (the others keep their order).
  virtual void MoveSkin(int64_t site, int32_t id, int32_t position) = 0;

  // Keeps the report unless its installation sent `per_minute` or more in the minute before
  // `report.at`; a report not kept is counted. Returns whether it was kept.
  virtual bool AddReport(int64_t site, const ErrorReport& report, int per_minute) = 0;
  // Newest first.
  virtual std::vector<ErrorReport> Reports(int64_t site, const ReportFilter& filter) = 0;
  // Reports kept per day (UTC, "YYYY-MM-DD"), newest day first.
  virtual std::vector<std::pair<std::string, int64_t>> ReportsPerDay(int64_t site) = 0;
  // Reports and announcements refused by the limit, since the service began keeping them.
  virtual int64_t Refused(int64_t site) = 0;

  // Records an announcement of `installation` at `at`, unless it made `per_minute` or more in
  // the minute before (then counted as refused). Returns whether it was recorded.
  virtual bool Register(int64_t site, const std::string& installation, const std::string& version,
                        Time at, int per_minute) = 0;
  // Most recently seen first.
  virtual std::vector<Registration> Registrations(int64_t site) = 0;

  // Administrators. AddAdministrator throws Error 3002 when the name is taken.
  virtual void AddAdministrator(const std::string& name, const std::string& password_hash) = 0;
  virtual std::optional<Administrator> AdministratorOf(const std::string& name) = 0;
  // A failed sign-in: counted; at `lock_after` failures in a row the name is locked until
  // `at + lock_for`. A good one clears the count.
  virtual void SignInFailed(const std::string& name, Time at, int lock_after,
                            std::chrono::seconds lock_for) = 0;
  virtual void SignInSucceeded(const std::string& name) = 0;

  virtual void AddSession(const std::string& digest, const AdminSession& session) = 0;
  // The session, unless it expired before `now` (an expired one is removed).
  virtual std::optional<AdminSession> SessionOf(const std::string& digest, Time now) = 0;
  virtual void RemoveSession(const std::string& digest) = 0;
};

}  // namespace moviletta::service
