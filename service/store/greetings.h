// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/store/sql.h"
#include "service/store/store.h"

namespace moviletta::service {

// Someone a greeting goes to, or its sender's own copy.
struct Recipient {
  int64_t id = 0;
  std::string role = "recipient";  // "recipient" or "sender"
  std::string name, cell, email;
  // "waiting", "mailed", "texted" (through the SMS gateway), "unreachable"
  std::string state = "waiting";
};

// A greeting taken in from the mail drop. Its files live in the data folder under its `token`.
struct Greeting {
  int64_t id = 0;
  int64_t site = 0;
  std::string mail_key;      // the mail's Message-ID and a digest of its content
  std::string kind;          // "greeting" (a message document) or "mobile" (a mobile e-mail)
  std::string token;         // the watch page's address, 128 random bits and more
  std::string delete_token;  // the sender's delete link
  std::string sender_name, sender_email, message, installation, version;
  Time taken_at;
  // "taken", "ready" (its video made), "mailed", "watched", "deleted"
  std::string state = "taken";
  int64_t seconds_ms = 0;  // the take's length
  int reports = 0;
  bool hidden = false;  // reported too often; hidden until the owner decides
  std::optional<Time> watched_at;
  std::vector<Recipient> recipients;
};

// A piece of work of the service: "convert" (the video for every screen), "mail" (the
// recipients' mails), "watched" (the sender's notice), "reply-N" (a reply to the sender).
struct Job {
  int64_t id = 0;
  int64_t greeting = 0;
  std::string kind;
  int attempts = 0;  // before this one
};

struct JobCount {
  std::string kind, state;
  int64_t count = 0;
};

// A node of the service that runs jobs, as it last said.
struct Node {
  std::string name;
  Time started, last_beat;
  int64_t jobs_done = 0;
};

// A site and the mail drop its settings name (SENDTO, "" when unset).
struct SiteDrop {
  int64_t site = 0;
  std::string host, drop;
};

struct Reply {
  Time at;
  std::string text;
};

struct QuarantinedMail {
  Time at;
  std::string reason, file;
};

// The greetings' records, on the same database as the Store, through a connection of their own.
// Every member is one transaction; failures throw moviletta::Error 3001. Any thread.
class Greetings {
 public:
  explicit Greetings(std::unique_ptr<Sql> sql) : sql_(std::move(sql)) {}

  // Keeps the greeting with its recipients and a "convert" job due now; returns its id. A
  // greeting with that `mail_key` already kept is not kept again: its id comes back, nothing
  // changes. `greeting.id` and the recipients' ids are ignored. `*kept_now` (when given) tells
  // whether this call kept it.
  int64_t Take(const Greeting& greeting, bool* kept_now = nullptr);
  std::optional<Greeting> ById(int64_t id);
  // By its watch token or its delete token; a deleted greeting comes back too (its state says).
  std::optional<Greeting> ByToken(const std::string& token);
  std::optional<Greeting> ByDeleteToken(const std::string& token);
  // Newest first.
  std::vector<Greeting> OfSite(int64_t site, int limit = 200);
  // Every site with its mail drop, in the order the sites were added.
  std::vector<SiteDrop> SiteDrops();

  void SetState(int64_t greeting, const std::string& state);
  void SetRecipientState(int64_t recipient, const std::string& state);
  // Adds the job unless the greeting has one of that kind; due at `at`.
  void AddJob(int64_t greeting, const std::string& kind, Time at);
  // Takes the oldest due job nobody holds, for `lease`; another worker may take it once the
  // lease has run out.
  std::optional<Job> ClaimJob(const std::string& worker, Time now, std::chrono::seconds lease);
  void JobDone(int64_t job);
  // Gives the job back untried (its worker is stopping): any worker may take it at once.
  void ReleaseJob(int64_t job);
  // The job failed: tried again at `retry_at`, or given up ("failed") when that is nothing.
  void JobFailed(int64_t job, const std::string& why, std::optional<Time> retry_at);
  std::vector<JobCount> JobCounts();
  // The node `name` (started at `started`) is alive at `at` and finished `done` more jobs.
  void Beat(const std::string& name, Time started, Time at, int64_t done);
  // The nodes, the most recently heard first.
  std::vector<Node> Nodes();

  // The first view: true once, when the greeting was not watched before.
  bool Watched(int64_t greeting, Time at);
  int64_t AddReply(int64_t greeting, Time at, const std::string& text);
  std::optional<Reply> ReplyOf(int64_t greeting, int64_t reply);
  // Counts a report; at `hide_at` reports the greeting is hidden. Returns the count.
  int Report(int64_t greeting, int hide_at);
  // The owner's decision on a reported greeting: shown again, its reports cleared.
  void Unhide(int64_t greeting);
  // Forgets the personal data (names, addresses, message, replies) and marks it deleted.
  void Forget(int64_t greeting, Time at);
  // Greetings of `site` taken before `before` and not yet deleted.
  std::vector<int64_t> Expired(int64_t site, Time before);
  // Runs `sweep` unless another node sweeps now; returns whether it ran.
  bool SweepAlone(const std::function<void()>& sweep);

  void Quarantine(const QuarantinedMail& mail);
  std::vector<QuarantinedMail> Quarantined(int limit = 100);

 private:
  std::vector<Greeting> Select(const std::string& where, const std::vector<Sql::Value>& values);

  std::unique_ptr<Sql> sql_;
};

}  // namespace moviletta::service
