// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/store/greetings.h"

namespace moviletta::service {
namespace {

int64_t Int(const std::optional<std::string>& text) {
  return text ? std::stoll(*text) : 0;
}

std::string Text(const std::optional<std::string>& text) {
  return text.value_or("");
}

constexpr const char* kColumns =
    "id, site, mail_key, kind, token, delete_token, sender_name, sender_email, message, "
    "installation, version, taken_at, state, seconds_ms, reports, hidden, watched_at";

}  // namespace

int64_t Greetings::Take(const Greeting& g, bool* kept_now) {
  int64_t id = 0;
  bool kept = false;
  sql_->Transaction([&] {
    const auto known = sql_->Query("SELECT id FROM greetings WHERE mail_key = ?", {g.mail_key});
    if (!known.empty()) {
      id = Int(known[0][0]);
      return;
    }
    const auto made = sql_->Query(
        "INSERT INTO greetings (site, mail_key, kind, token, delete_token, sender_name, "
        "sender_email, message, installation, version, taken_at, state, seconds_ms) VALUES "
        "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'taken', ?) RETURNING id",
        {g.site, g.mail_key, g.kind, g.token, g.delete_token, g.sender_name, g.sender_email,
         g.message, g.installation, g.version, Millis(g.taken_at), g.seconds_ms});
    id = Int(made.at(0)[0]);
    for (const Recipient& r : g.recipients)
      sql_->Change(
          "INSERT INTO recipients (greeting, role, name, cell, email, state) VALUES "
          "(?, ?, ?, ?, ?, ?)",
          {id, r.role, r.name, r.cell, r.email, r.state});
    sql_->Change(
        "INSERT INTO jobs (greeting, kind, state, run_at) VALUES (?, 'convert', "
        "'waiting', ?)",
        {id, Millis(g.taken_at)});
    kept = true;
  });
  if (kept_now) *kept_now = kept;
  return id;
}

std::vector<Greeting> Greetings::Select(const std::string& where,
                                        const std::vector<Sql::Value>& values) {
  std::vector<Greeting> found;
  sql_->Transaction([&] {
    for (const Sql::Row& row :
         sql_->Query(std::string("SELECT ") + kColumns + " FROM greetings " + where, values)) {
      Greeting g;
      g.id = Int(row[0]), g.site = Int(row[1]);
      g.mail_key = Text(row[2]), g.kind = Text(row[3]), g.token = Text(row[4]);
      g.delete_token = Text(row[5]), g.sender_name = Text(row[6]), g.sender_email = Text(row[7]);
      g.message = Text(row[8]), g.installation = Text(row[9]), g.version = Text(row[10]);
      g.taken_at = FromMillis(Int(row[11])), g.state = Text(row[12]);
      g.seconds_ms = Int(row[13]), g.reports = static_cast<int>(Int(row[14]));
      g.hidden = Int(row[15]) != 0;
      if (row[16]) g.watched_at = FromMillis(Int(row[16]));
      for (const Sql::Row& r : sql_->Query(
               "SELECT id, role, name, cell, email, state FROM recipients WHERE greeting = ? "
               "ORDER BY id",
               {g.id}))
        g.recipients.push_back(
            {Int(r[0]), Text(r[1]), Text(r[2]), Text(r[3]), Text(r[4]), Text(r[5])});
      found.push_back(std::move(g));
    }
  });
  return found;
}

std::optional<Greeting> Greetings::ById(int64_t id) {
  std::vector<Greeting> found = Select("WHERE id = ?", {id});
  if (found.empty()) return std::nullopt;
  return std::move(found[0]);
}

std::optional<Greeting> Greetings::ByToken(const std::string& token) {
  std::vector<Greeting> found = Select("WHERE token = ?", {token});
  if (found.empty()) return std::nullopt;
  return std::move(found[0]);
}

std::optional<Greeting> Greetings::ByDeleteToken(const std::string& token) {
  std::vector<Greeting> found = Select("WHERE delete_token = ?", {token});
  if (found.empty()) return std::nullopt;
  return std::move(found[0]);
}

std::vector<Greeting> Greetings::OfSite(int64_t site, int limit) {
  return Select("WHERE site = ? ORDER BY taken_at DESC, id DESC LIMIT ?", {site, int64_t{limit}});
}

std::vector<SiteDrop> Greetings::SiteDrops() {
  std::vector<SiteDrop> drops;
  for (const Sql::Row& row :
       sql_->Query("SELECT sites.id, sites.host, settings.value FROM sites LEFT JOIN settings ON "
                   "settings.site = sites.id AND settings.name = 'SENDTO' ORDER BY sites.id"))
    drops.push_back({Int(row[0]), Text(row[1]), Text(row[2])});
  return drops;
}

void Greetings::SetState(int64_t greeting, const std::string& state) {
  // A deleted greeting stays deleted, whatever a job still running finds to say.
  sql_->Change("UPDATE greetings SET state = ? WHERE id = ? AND state <> 'deleted'",
               {state, greeting});
}

void Greetings::SetRecipientState(int64_t recipient, const std::string& state) {
  sql_->Change("UPDATE recipients SET state = ? WHERE id = ?", {state, recipient});
}

void Greetings::AddJob(int64_t greeting, const std::string& kind, Time at) {
  sql_->Transaction([&] {
    if (sql_->Query("SELECT id FROM jobs WHERE greeting = ? AND kind = ?", {greeting, kind})
            .empty())
      sql_->Change("INSERT INTO jobs (greeting, kind, state, run_at) VALUES (?, ?, 'waiting', ?)",
                   {greeting, kind, Millis(at)});
  });
}

std::optional<Job> Greetings::ClaimJob(const std::string& worker, Time now,
                                       std::chrono::seconds lease) {
  std::optional<Job> job;
  const int64_t at = Millis(now);
  sql_->Transaction([&] {
    const auto due = sql_->Query(
        "SELECT id, greeting, kind, attempts FROM jobs WHERE state = 'waiting' AND run_at <= ? "
        "AND (lease_until IS NULL OR lease_until < ?) ORDER BY run_at, id LIMIT 1" +
            sql_->SkipLocked(),
        {at, at});
    if (due.empty()) return;
    job = Job{Int(due[0][0]), Int(due[0][1]), Text(due[0][2]), static_cast<int>(Int(due[0][3]))};
    sql_->Change("UPDATE jobs SET lease_until = ?, worker = ? WHERE id = ?",
                 {at + std::chrono::milliseconds(lease).count(), worker, job->id});
  });
  return job;
}

void Greetings::JobDone(int64_t job) {
  sql_->Change("UPDATE jobs SET state = 'done', lease_until = NULL WHERE id = ?", {job});
}

void Greetings::ReleaseJob(int64_t job) {
  sql_->Change("UPDATE jobs SET lease_until = NULL, worker = NULL WHERE id = ?", {job});
}

void Greetings::JobFailed(int64_t job, const std::string& why, std::optional<Time> retry_at) {
  if (retry_at)
    sql_->Change(
        "UPDATE jobs SET attempts = attempts + 1, run_at = ?, lease_until = NULL, "
        "last_error = ? WHERE id = ?",
        {Millis(*retry_at), why, job});
  else
    sql_->Change(
        "UPDATE jobs SET attempts = attempts + 1, state = 'failed', lease_until = NULL, "
        "last_error = ? WHERE id = ?",
        {why, job});
}

std::vector<JobCount> Greetings::JobCounts() {
  std::vector<JobCount> counts;
  for (const Sql::Row& row :
       sql_->Query("SELECT CASE WHEN kind LIKE 'reply-%' THEN 'reply' ELSE kind END AS k, state, "
                   "count(*) FROM jobs GROUP BY k, state ORDER BY k, state"))
    counts.push_back({Text(row[0]), Text(row[1]), Int(row[2])});
  return counts;
}

void Greetings::Beat(const std::string& name, Time started, Time at, int64_t done) {
  sql_->Change(
      "INSERT INTO nodes (name, started, last_beat, jobs_done) VALUES (?, ?, ?, ?) ON CONFLICT "
      "(name) DO UPDATE SET last_beat = excluded.last_beat, jobs_done = nodes.jobs_done + ?",
      {name, Millis(started), Millis(at), done, done});
}

std::vector<Node> Greetings::Nodes() {
  std::vector<Node> nodes;
  for (const Sql::Row& row :
       sql_->Query("SELECT name, started, last_beat, jobs_done FROM nodes ORDER BY last_beat DESC"))
    nodes.push_back({Text(row[0]), FromMillis(Int(row[1])), FromMillis(Int(row[2])), Int(row[3])});
  return nodes;
}

bool Greetings::Watched(int64_t greeting, Time at) {
  return sql_->Change(
             "UPDATE greetings SET watched_at = ?, state = CASE WHEN state = 'deleted' THEN "
             "state ELSE 'watched' END WHERE id = ? AND watched_at IS NULL",
             {Millis(at), greeting}) == 1;
}

int64_t Greetings::AddReply(int64_t greeting, Time at, const std::string& text) {
  return Int(sql_->Query("INSERT INTO replies (greeting, at, text) VALUES (?, ?, ?) RETURNING id",
                         {greeting, Millis(at), text})
                 .at(0)[0]);
}

std::optional<Reply> Greetings::ReplyOf(int64_t greeting, int64_t reply) {
  const auto found =
      sql_->Query("SELECT at, text FROM replies WHERE greeting = ? AND id = ?", {greeting, reply});
  if (found.empty()) return std::nullopt;
  return Reply{FromMillis(Int(found[0][0])), Text(found[0][1])};
}

int Greetings::Report(int64_t greeting, int hide_at) {
  int reports = 0;
  sql_->Transaction([&] {
    sql_->Change("UPDATE greetings SET reports = reports + 1 WHERE id = ?", {greeting});
    sql_->Change("UPDATE greetings SET hidden = 1 WHERE id = ? AND reports >= ?",
                 {greeting, int64_t{hide_at}});
    reports = static_cast<int>(
        Int(sql_->Query("SELECT reports FROM greetings WHERE id = ?", {greeting}).at(0)[0]));
  });
  return reports;
}

void Greetings::Unhide(int64_t greeting) {
  sql_->Change("UPDATE greetings SET hidden = 0, reports = 0 WHERE id = ?", {greeting});
}

void Greetings::Forget(int64_t greeting, Time at) {
  sql_->Transaction([&] {
    sql_->Change(
        "UPDATE greetings SET state = 'deleted', deleted_at = ?, sender_name = '', "
        "sender_email = '', message = '' WHERE id = ?",
        {Millis(at), greeting});
    sql_->Change("UPDATE recipients SET name = '', cell = '', email = '' WHERE greeting = ?",
                 {greeting});
    sql_->Change("DELETE FROM replies WHERE greeting = ?", {greeting});
    sql_->Change("UPDATE jobs SET state = 'done' WHERE greeting = ? AND state = 'waiting'",
                 {greeting});
  });
}

bool Greetings::SweepAlone(const std::function<void()>& sweep) {
  constexpr int64_t kSweepLock = 0x4d6f7669;  // one number among the database's locks
  return sql_->Alone(kSweepLock, sweep);
}

std::vector<int64_t> Greetings::Expired(int64_t site, Time before) {
  std::vector<int64_t> ids;
  for (const Sql::Row& row :
       sql_->Query("SELECT id FROM greetings WHERE site = ? AND taken_at < ? AND state <> "
                   "'deleted' ORDER BY id",
                   {site, Millis(before)}))
    ids.push_back(Int(row[0]));
  return ids;
}

void Greetings::Quarantine(const QuarantinedMail& mail) {
  sql_->Change("INSERT INTO quarantine (at, reason, file) VALUES (?, ?, ?)",
               {Millis(mail.at), mail.reason, mail.file});
}

std::vector<QuarantinedMail> Greetings::Quarantined(int limit) {
  std::vector<QuarantinedMail> mails;
  for (const Sql::Row& row :
       sql_->Query("SELECT at, reason, file FROM quarantine ORDER BY at DESC, id DESC LIMIT ?",
                   {int64_t{limit}}))
    mails.push_back({FromMillis(Int(row[0])), Text(row[1]), Text(row[2])});
  return mails;
}

}  // namespace moviletta::service
