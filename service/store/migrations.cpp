// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/store/migrations.h"

#include <array>
#include <regex>

#include "moviletta/common/error.h"
#include "service/store/store_errors.h"

namespace moviletta::service {
namespace {

// ${KEY}, ${BIG} and ${BYTES} stand for the engine's words.
constexpr std::array<const char*, 3> kMigrations{{
    R"sql(
CREATE TABLE sites (id ${KEY}, host TEXT NOT NULL UNIQUE);
CREATE TABLE settings (
  site ${BIG} NOT NULL REFERENCES sites(id) ON DELETE CASCADE,
  name TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (site, name));
CREATE TABLE skins (
  site ${BIG} NOT NULL REFERENCES sites(id) ON DELETE CASCADE, id INTEGER NOT NULL,
  name TEXT NOT NULL, kind TEXT NOT NULL CHECK (kind IN ('SKIN', 'STATIC')),
  frames INTEGER NOT NULL, position INTEGER NOT NULL, PRIMARY KEY (site, id));
CREATE TABLE skin_pictures (
  site ${BIG} NOT NULL, skin INTEGER NOT NULL, number INTEGER NOT NULL, bytes ${BYTES} NOT NULL,
  PRIMARY KEY (site, skin, number),
  FOREIGN KEY (site, skin) REFERENCES skins(site, id) ON DELETE CASCADE);
CREATE TABLE error_reports (
  id ${KEY}, site ${BIG} NOT NULL REFERENCES sites(id) ON DELETE CASCADE,
  at ${BIG} NOT NULL, installation TEXT NOT NULL, version TEXT NOT NULL, function TEXT NOT NULL,
  section TEXT NOT NULL, code TEXT NOT NULL, description TEXT NOT NULL, source TEXT NOT NULL,
  add_info TEXT NOT NULL, query TEXT NOT NULL);
CREATE INDEX error_reports_by_time ON error_reports (site, at);
CREATE INDEX error_reports_by_installation ON error_reports (site, installation, at);
CREATE TABLE registrations (
  site ${BIG} NOT NULL REFERENCES sites(id) ON DELETE CASCADE, installation TEXT NOT NULL,
  version TEXT NOT NULL, first_seen ${BIG} NOT NULL, last_seen ${BIG} NOT NULL,
  announcements ${BIG} NOT NULL, window_start ${BIG} NOT NULL, window_count ${BIG} NOT NULL,
  PRIMARY KEY (site, installation));
CREATE TABLE refused (
  site ${BIG} PRIMARY KEY REFERENCES sites(id) ON DELETE CASCADE, count ${BIG} NOT NULL);
CREATE TABLE administrators (
  name TEXT PRIMARY KEY, password_hash TEXT NOT NULL, failures INTEGER NOT NULL DEFAULT 0,
  locked_until ${BIG});
CREATE TABLE admin_sessions (
  digest TEXT PRIMARY KEY,
  name TEXT NOT NULL REFERENCES administrators(name) ON DELETE CASCADE,
  csrf TEXT NOT NULL, expires ${BIG} NOT NULL);
)sql",
    R"sql(
CREATE TABLE greetings (
  id ${KEY}, site ${BIG} NOT NULL REFERENCES sites(id) ON DELETE CASCADE,
  mail_key TEXT NOT NULL UNIQUE, kind TEXT NOT NULL CHECK (kind IN ('greeting', 'mobile')),
  token TEXT NOT NULL UNIQUE, delete_token TEXT NOT NULL, sender_name TEXT NOT NULL,
  sender_email TEXT NOT NULL, message TEXT NOT NULL, installation TEXT NOT NULL,
  version TEXT NOT NULL, taken_at ${BIG} NOT NULL, state TEXT NOT NULL, seconds_ms ${BIG} NOT NULL,
  reports INTEGER NOT NULL DEFAULT 0, hidden INTEGER NOT NULL DEFAULT 0, watched_at ${BIG},
  deleted_at ${BIG});
CREATE INDEX greetings_by_time ON greetings (site, taken_at);
CREATE TABLE recipients (
  id ${KEY}, greeting ${BIG} NOT NULL REFERENCES greetings(id) ON DELETE CASCADE,
  role TEXT NOT NULL CHECK (role IN ('recipient', 'sender')), name TEXT NOT NULL,
  cell TEXT NOT NULL, email TEXT NOT NULL, state TEXT NOT NULL);
CREATE TABLE jobs (
  id ${KEY}, greeting ${BIG} NOT NULL REFERENCES greetings(id) ON DELETE CASCADE,
  kind TEXT NOT NULL, state TEXT NOT NULL, attempts INTEGER NOT NULL DEFAULT 0,
  run_at ${BIG} NOT NULL, lease_until ${BIG}, worker TEXT, last_error TEXT,
  UNIQUE (greeting, kind));
CREATE INDEX jobs_waiting ON jobs (state, run_at);
CREATE TABLE replies (
  id ${KEY}, greeting ${BIG} NOT NULL REFERENCES greetings(id) ON DELETE CASCADE,
  at ${BIG} NOT NULL, text TEXT NOT NULL);
CREATE TABLE quarantine (
  id ${KEY}, at ${BIG} NOT NULL, reason TEXT NOT NULL, file TEXT NOT NULL);
)sql",
    R"sql(
CREATE TABLE nodes (
  name TEXT PRIMARY KEY, started ${BIG} NOT NULL, last_beat ${BIG} NOT NULL,
  jobs_done ${BIG} NOT NULL DEFAULT 0);
)sql",
}};

}  // namespace

std::vector<std::string> Migrations(const SqlWords& words) {
  std::vector<std::string> migrations;
  for (const char* migration : kMigrations)
    migrations.push_back(std::regex_replace(
        std::regex_replace(std::regex_replace(migration, std::regex(R"(\$\{KEY\})"), words.key),
                           std::regex(R"(\$\{BIG\})"), words.big),
        std::regex(R"(\$\{BYTES\})"), words.bytes));
  return migrations;
}

std::vector<std::string> PendingMigrations(const SqlWords& words, int version) {
  std::vector<std::string> migrations = Migrations(words);
  if (version > static_cast<int>(migrations.size()))
    throw Error(kErrDatabase,
                "the database is of a newer version (" + std::to_string(version) +
                    ") than this program knows (" + std::to_string(migrations.size()) + ")",
                "Store");
  migrations.erase(migrations.begin(), migrations.begin() + version);
  return migrations;
}

}  // namespace moviletta::service
