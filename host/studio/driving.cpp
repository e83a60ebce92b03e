// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/driving.h"

#include <set>

#include <nlohmann/json.hpp>

namespace moviletta::web {

void Driving::OnSessions(std::function<void(const std::string&)> begin, std::function<void()> idle,
                         std::function<void(const std::string&)> unattended) {
  begin_ = std::move(begin);
  idle_ = std::move(idle);
  unattended_ = std::move(unattended);
}

bool Driving::Claim(const std::string& page, const std::string& caller, bool takeover) {
  MutexLock lock(mutex_);
  if (!driver_.empty() && driver_ != page && !takeover) return false;
  if (driver_ != page || driver_origin_ != caller) {
    driver_ = page;
    driver_origin_ = caller;
    TellDriver();
  }
  if (begin_) BeginSession(caller);  // a page claims it again: the session goes on
  return true;
}

void Driving::Release(const std::string& page, const std::string& caller) {
  MutexLock lock(mutex_);
  if (page.empty() || driver_ != page || driver_origin_ != caller) return;
  driver_.clear();
  driver_origin_.clear();
  TellDriver();
  if (idle_) host_.queue().Post(idle_);
}

void Driving::TellDriver() {
  // The studio's own page learns which site drives, another site only that some other page does.
  std::set<std::string> audiences = {"", driver_origin_};
  if (consent_)
    for (const std::string& origin : consent_->Origins()) audiences.insert(origin);
  for (const std::string& audience : audiences) {
    nlohmann::json told = {{"page", ""}, {"origin", ""}};
    if (!driver_.empty() && audience == driver_origin_)
      told = {{"page", driver_}, {"origin", driver_origin_}};
    else if (!driver_.empty())
      told = {{"page", kAnotherPage}, {"origin", audience.empty() ? driver_origin_ : ""}};
    stream_.PublishTo(audience, "driver", told);
  }
}

bool Driving::Drives(const std::string& page) {
  MutexLock lock(mutex_);
  return page.empty() || page == driver_;
}

bool Driving::DrivenByAPage() {
  MutexLock lock(mutex_);
  return !driver_.empty();
}

bool Driving::DrivesSession(const std::string& page, const std::string& caller) {
  MutexLock lock(mutex_);
  // The session asked for or running is the caller's; with none, only the studio's own page.
  const std::optional<std::string>& session = session_ ? session_ : running_;
  if (begin_ && (session ? *session != caller : !caller.empty())) return false;
  return page.empty() ? driver_.empty() || driver_origin_ == caller : page == driver_;
}

void Driving::CalledUnattended(const std::string& caller) {
  if (unattended_ && !DrivenByAPage()) host_.queue().Post([this, caller] { unattended_(caller); });
}

bool Driving::SessionOf(const std::string& caller, bool may_begin) {
  if (!begin_) return true;
  MutexLock lock(mutex_);
  if (session_ == caller) return true;
  if (session_ || !may_begin) return false;
  BeginSession(caller);
  return true;
}

void Driving::BeginSession(const std::string& caller) {
  // Calls wait from now on for a session that starts, not only once the host thread gets to it.
  if (session_ != caller) starting_up_ = true;
  session_ = caller;
  host_.queue().Post([this, caller] { begin_(caller); });
}

bool Driving::RunsFor(const std::string& caller) {
  if (!begin_) return true;
  MutexLock lock(mutex_);
  return running_ == caller;
}

void Driving::StartupBegins(const std::string& origin) {
  {
    MutexLock lock(mutex_);
    running_ = origin;
    if (begin_) session_ = origin;
  }
  starting_up_ = true;
}

void Driving::SessionEnded(const std::string& origin) {
  MutexLock lock(mutex_);
  if (running_ == origin) running_.reset();
  if (session_ != origin) return;
  session_.reset();
  starting_up_ = false;  // a session asked for and never begun: nothing starts up
}

void Driving::SessionGoesOn(const std::string& origin) {
  {
    MutexLock lock(mutex_);
    if (running_ != origin) return;
    session_ = origin;
  }
  starting_up_ = false;  // the calls that waited for a new session go on with this one
}

}  // namespace moviletta::web
