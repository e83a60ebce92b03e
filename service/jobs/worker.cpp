// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/jobs/worker.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"
#include "moviletta/encoding/transcode.h"
#include "service/web/site_settings.h"
#include "service/web/watch_routes.h"

namespace moviletta::service {
namespace {

namespace fs = std::filesystem;
constexpr const char* kSource = "Worker";

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(75, "cannot read " + path.string(), kSource);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace

Worker::Worker(Store& store, Greetings& greetings, Relay& relay, fs::path data, Clock clock,
               WorkerOptions options)
    : store_(store),
      greetings_(greetings),
      relay_(relay),
      data_(std::move(data)),
      clock_(std::move(clock)),
      options_(std::move(options)) {}

Worker::~Worker() {
  Stop();
}

void Worker::Start() {
  started_ = clock_();
  for (int i = 0; i < options_.threads; ++i)
    threads_.emplace_back([this, sweeper = i == 0] {
      std::unique_lock lock(mutex_);
      auto next_sweep = std::chrono::steady_clock::now();
      auto next_beat = next_sweep;
      while (!stopping_) {
        lock.unlock();
        bool ran = false;
        try {
          if (sweeper && std::chrono::steady_clock::now() >= next_beat) {
            next_beat = std::chrono::steady_clock::now() + options_.beat_every;
            const int64_t done = done_.exchange(0);
            try {
              greetings_.Beat(options_.name, started_, clock_(), done);
            } catch (...) {
              done_ += done;  // told with the next beat
              throw;
            }
          }
          if (sweeper && std::chrono::steady_clock::now() >= next_sweep) {
            next_sweep = std::chrono::steady_clock::now() + options_.sweep_every;
            Sweep();
          }
          ran = RunOne(true);
        } catch (const std::exception& e) {
          std::cerr << "jobs: " << e.what() << "\n";  // the database: looked at again later
        }
        lock.lock();
        if (!ran && !stopping_) stop_wake_.wait_for(lock, options_.idle);
      }
    });
}

void Worker::Stop() {
  {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    stop_wake_.notify_all();
    if (!stop_wake_.wait_for(lock, options_.drain, [this] { return running_ == 0; }))
      cancel_ = true;
  }
  const bool started = !threads_.empty();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  if (!started) return;
  try {
    greetings_.Beat(options_.name, started_, clock_(), done_.exchange(0));  // its last word
  } catch (const std::exception& e) {
    std::cerr << "jobs: " << e.what() << "\n";
  }
}

int Worker::RunDue() {
  int ran = 0;
  while (RunOne(false)) ++ran;
  return ran;
}

int Worker::Sweep() {
  int swept = 0;
  greetings_.SweepAlone([&] {
    for (const std::string& host : store_.Sites()) {
      const std::optional<int64_t> site = store_.SiteOf(host);
      if (!site) continue;
      const std::string days = SettingOf(*site, "KEEPDAYS");
      const auto keep_for =
          days.empty() ? options_.keep_for : std::chrono::hours(24 * std::stoi(days));
      for (const int64_t id : greetings_.Expired(*site, clock_() - keep_for))
        if (const std::optional<Greeting> greeting = greetings_.ById(id)) {
          DeleteGreeting(greetings_, data_, *greeting, clock_());
          ++swept;
        }
    }
  });
  return swept;
}

bool Worker::RunOne(bool counted) {
  const std::optional<Job> job = greetings_.ClaimJob(options_.name, clock_(), options_.lease);
  if (!job) return false;
  if (counted) {
    std::lock_guard lock(mutex_);
    if (stopping_) {  // taken just as the worker stops: given back at once
      greetings_.ReleaseJob(job->id);
      return false;
    }
    ++running_;
  }
  // Counted as under way for Stop's drain until it ends, however it ends.
  struct Done {
    Worker* worker;
    ~Done() {
      if (!worker) return;
      std::lock_guard lock(worker->mutex_);
      --worker->running_;
      worker->stop_wake_.notify_all();
    }
  } done{counted ? this : nullptr};
  try {
    Run(*job);
    greetings_.JobDone(job->id);
    ++done_;
  } catch (const std::exception& e) {
    if (cancel_) {
      std::cerr << "job " << job->kind << " of greeting " << job->greeting
                << " given back: the worker stops\n";
      greetings_.ReleaseJob(job->id);
      return true;
    }
    const auto wait = options_.first_retry * (int64_t{1} << std::min(job->attempts, 12));
    const bool again = job->attempts + 1 < options_.attempts;
    std::cerr << "job " << job->kind << " of greeting " << job->greeting
              << (again ? " failed, tried again later: " : " failed for good: ") << e.what()
              << "\n";
    greetings_.JobFailed(job->id, e.what(),
                         again ? std::optional<Time>(clock_() + wait) : std::nullopt);
  }
  return true;
}

void Worker::Run(const Job& job) {
  const std::optional<Greeting> greeting = greetings_.ById(job.greeting);
  if (!greeting || greeting->state == "deleted") return;  // nothing left to do
  if (job.kind == "convert") {
    Convert(*greeting);
    greetings_.SetState(greeting->id, "ready");
    greetings_.AddJob(greeting->id, "mail", clock_());
  } else if (job.kind == "mail") {
    MailRecipients(*greeting);
    if (greeting->state == "ready") greetings_.SetState(greeting->id, "mailed");
  } else if (job.kind == "watched") {
    if (!greeting->sender_email.empty())
      Send(greeting->site, WatchedNotice(AddressOf(greeting->site), *greeting));
  } else if (job.kind.starts_with("reply-")) {
    const int64_t reply_id = std::stoll(job.kind.substr(6));
    const std::optional<Reply> reply = greetings_.ReplyOf(greeting->id, reply_id);
    if (reply && !greeting->sender_email.empty())
      Send(greeting->site, ReplyMail(AddressOf(greeting->site), *greeting, reply_id, *reply));
  } else {
    throw Error(3, "no such job: " + job.kind, kSource);
  }
}

fs::path Worker::Folder(const Greeting& greeting) const {
  return data_ / "media" / greeting.token;
}

void Worker::Convert(const Greeting& greeting) {
  const fs::path folder = Folder(greeting);
  fs::path original;
  for (const char* name : {"greeting.wmv", "greeting.mpg"})
    if (fs::exists(folder / name)) original = folder / name;
  if (original.empty()) throw Error(53, "the greeting's video is missing", kSource);
  TranscodeJob job;
  job.input = original.string();
  job.end = static_cast<double>(greeting.seconds_ms) / 1000;
  job.output = (folder / "web.mp4").string();
  job.format = kOutputFormatWebMp4;
  job.threads = 1;
  Transcode(job, cancel_, [](double, double) {});
  SyncToDisk(folder / "web.mp4");
  // The poster is the snapshot the studio took as the greeting began, checked at intake.
  WriteFileWhole((folder / "poster.jpg").string(), ReadWhole(folder / "snapshot.jpg"), kSource,
                 true, true);
}

void Worker::MailRecipients(const Greeting& greeting) {
  const SiteAddress site = AddressOf(greeting.site);
  const std::string poster = ReadWhole(Folder(greeting) / "poster.jpg");
  const std::string own_gateway = SettingOf(greeting.site, "SMSGATEWAY");
  const std::string& gateway_of_site = own_gateway.empty() ? options_.sms_gateway : own_gateway;
  for (const Recipient& r : greeting.recipients) {
    if (cancel_) throw Error(3, "the worker stops", kSource);
    if (r.state != "waiting") continue;  // mailed before this run, or not reachable
    if (!r.email.empty()) {
      Send(greeting.site, r.role == "sender" ? SenderCopy(site, greeting, r, poster)
                                             : RecipientMail(site, greeting, r, poster));
      greetings_.SetRecipientState(r.id, "mailed");
    } else if (!r.cell.empty() && !gateway_of_site.empty()) {
      std::string number;
      for (const char c : r.cell)
        if (std::isdigit(static_cast<unsigned char>(c)) || (c == '+' && number.empty()))
          number += c;
      std::string gateway = gateway_of_site;
      if (const auto at = gateway.find("{number}"); at != std::string::npos && !number.empty()) {
        gateway.replace(at, 8, number);
        Send(greeting.site, TextMessage(site, greeting, r, gateway));
        greetings_.SetRecipientState(r.id, "texted");
      } else {
        greetings_.SetRecipientState(r.id, "unreachable");
      }
    } else {
      greetings_.SetRecipientState(r.id, "unreachable");
    }
  }
}

std::string Worker::SettingOf(int64_t site, const std::string& name) {
  const std::map<std::string, std::string> settings = store_.Settings(site);
  const auto found = settings.find(name);
  return found == settings.end() ? std::string() : found->second;
}

void Worker::Send(int64_t site, const OutgoingMail& mail) {
  const std::string relay = SettingOf(site, "RELAY");
  if (relay.empty())
    relay_.Send(mail);
  else
    SmtpRelay(relay).Send(mail);  // the site's own relay
}

SiteAddress Worker::AddressOf(int64_t site) {
  std::string host;
  for (const SiteDrop& d : greetings_.SiteDrops())  // one query, not one a site
    if (d.site == site) host = d.host;
  if (options_.site_address) return options_.site_address(host);
  return {host, "greetings@" + HostName(host), "http://" + host};
}

}  // namespace moviletta::service
