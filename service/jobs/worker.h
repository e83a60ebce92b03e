// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/notify/greeting_mails.h"
#include "service/notify/relay.h"
#include "service/store/greetings.h"
#include "service/store/store.h"

namespace moviletta::service {

struct WorkerOptions {
  int threads = 2;
  std::chrono::seconds lease{600};  // a job nobody finished in this time is taken again
  int attempts = 8;                 // then a job is given up and shows as failed
  std::chrono::seconds first_retry{10};
  std::chrono::milliseconds idle{500};  // how often an idle worker looks for due jobs
  // "{number}@sms.example": a recipient with only a mobile number gets a text through it; ""
  // lists them as not reachable. A site's own SMSGATEWAY, RELAY and KEEPDAYS settings come
  // first.
  std::string sms_gateway = "";
  // How a site's watch pages are addressed, from its host name ("http://" + host when empty).
  std::function<SiteAddress(const std::string& host)> site_address = nullptr;
  std::string name = "worker";  // this node's name in the jobs it holds
  // Greetings older than this lose their video, poster and personal data.
  std::chrono::hours keep_for{24 * 90};
  std::chrono::seconds sweep_every{3600};
  // Stop lets the running jobs finish this long, then cuts them short and gives them back.
  std::chrono::seconds drain{8};
  // How often a running worker tells the database that its node is alive (the admin page).
  std::chrono::seconds beat_every{5};
};

// Runs the greetings' jobs: makes each greeting's video for every screen and its poster, mails
// its recipients (the sender's copy included), tells the sender of the first view and of each
// reply. A job runs at least once and is safe to run twice: a recipient already mailed is not
// mailed again, files are made under a hidden name and renamed. A failure is tried again later,
// the wait doubling from `first_retry`.
//
// Threads: Start makes `threads` threads that take due jobs; Stop (and the destructor) takes no
// new job, lets the running ones finish for `drain`, then cuts them short (their jobs given back
// untried), and joins the threads. RunDue runs due jobs on the calling thread (tests, `work
// --once`).
class Worker {
 public:
  Worker(Store& store, Greetings& greetings, Relay& relay, std::filesystem::path data, Clock clock,
         WorkerOptions options);
  ~Worker();

  void Start();
  void Stop();
  // Runs due jobs until none is left; returns how many ran.
  int RunDue();
  // Deletes the greetings kept longer than `keep_for`; returns how many, 0 when another node
  // sweeps now. Start's first thread runs it every `sweep_every`.
  int Sweep();

 private:
  // Runs one due job, `counted` as under way for Stop when on Start's threads. Returns whether a
  // job was taken.
  bool RunOne(bool counted);
  void Run(const Job& job);
  void Convert(const Greeting& greeting);
  void MailRecipients(const Greeting& greeting);
  SiteAddress AddressOf(int64_t site);
  // The site's own setting `name`, "" when it has none.
  std::string SettingOf(int64_t site, const std::string& name);
  // Through the site's own relay when it names one, else the worker's.
  void Send(int64_t site, const OutgoingMail& mail);
  std::filesystem::path Folder(const Greeting& greeting) const;

  Store& store_;
  Greetings& greetings_;
  Relay& relay_;
  const std::filesystem::path data_;
  const Clock clock_;
  const WorkerOptions options_;
  std::mutex mutex_;
  std::condition_variable stop_wake_;
  bool stopping_ = false;
  int running_ = 0;                  // jobs under way on Start's threads
  std::atomic<bool> cancel_{false};  // the drain ran out: jobs under way end at once
  std::atomic<int64_t> done_{0};     // jobs finished since the last beat
  Time started_;
  std::vector<std::thread> threads_;
};

}  // namespace moviletta::service
