// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/sessions.h"

#include <iostream>

namespace moviletta::web {

Sessions::Sessions(WebHost& host, ControlSite& site, ModuleState& module, EventStream& stream,
                   Bridge& bridge, MakeSetup make_setup)
    : host_(host),
      site_(site),
      module_(module),
      stream_(stream),
      bridge_(bridge),
      make_setup_(std::move(make_setup)) {}

void Sessions::Begin(const std::string& origin) {
  idle_since_.reset();
  unattended_ = false;
  wanted_ = origin;
  if (origin_ && origin_ != origin && !Sending()) host_.SetUnwinding(true);
}

void Sessions::Idle() {
  if (origin_ && !idle_since_) idle_since_ = std::chrono::steady_clock::now();
}

void Sessions::Unattended(const std::string& origin) {
  if (origin_ != origin || wanted_) return;
  idle_since_ = std::chrono::steady_clock::now();
  unattended_ = true;
}

void Sessions::Restart() {
  restart_ = true;
}

void Sessions::Forget(const std::string& origin, std::function<void()> forget) {
  forget_.emplace_back(origin, std::move(forget));
  if (origin_ == origin && !Sending()) host_.SetUnwinding(true);
}

void Sessions::Tick() {
  for (auto forgotten = std::exchange(forget_, {}); auto& [origin, forget] : forgotten) {
    if (origin_ == origin) End();
    if (wanted_ == origin) {  // asked for, and revoked before it began: it never begins
      wanted_.reset();
      bridge_.SessionEnded(origin);
    }
    takes_.erase(origin);
    forget();
  }
  if (idle_since_ &&
      std::chrono::steady_clock::now() - *idle_since_ >= (unattended_ ? unattended_grace : grace))
    End();
  if (restart_ && origin_ && !wanted_) wanted_ = *origin_;
  if (wanted_) {
    const std::string origin = *std::exchange(wanted_, std::nullopt);
    if (origin_ != origin || std::exchange(restart_, false)) {
      End();
      host_.SetUnwinding(false);
      Start(origin);
    } else {
      bridge_.SessionGoesOn(origin);  // asked for again before another one began
    }
  }
  host_.SetUnwinding(false);  // at the top of the loop nothing is left to unwind
}

void Sessions::Start(const std::string& origin) {
  origin_ = origin;
  idle_since_.reset();
  stream_.SetAudience(origin);
  std::optional<Error> failure;
  bool told = false;  // the page was told what start-up waits for
  try {
    Setup setup = make_setup_(origin);
    sending_ = std::move(setup.sending);
    host_.UseBag(setup.bag_file);
    bridge_.StartupBegins("waiting for the greeting server", origin);
    told = true;
    site_.Destroy();
    module_ = ModuleState{};  // a world of its own: nothing of the session before it
    if (auto take = takes_.find(origin); take != takes_.end()) {
      module_.CaptureExtension = take->second.extension;
      module_.TrimStart = take->second.trim_start;
      module_.TrimEnd = take->second.trim_end;
    }
    failure = site_.Create(std::move(setup.components), setup.config, /*new_instance=*/true);
  } catch (...) {  // its folder could not be made, or the control, or anything else
    if (!told) bridge_.StartupBegins("making the studio ready", origin);
    failure = Error::FromCurrent();
  }
  if (failure) std::cerr << "start-up failed: " << failure->description() << "\n";
  // The page may initialise the control only when it declares itself safe for that; the bag is
  // read only then.
  if (auto unread = site_.RestoreProperties())
    std::cerr << "the stored properties were not read: " << unread->description() << "\n";
  bridge_.StartupEnded(failure);
}

bool Sessions::Sending() {
  Movilettas* control = site_.control();
  return control && control->ClientStatus() == STATUS_SENDING;
}

void Sessions::End() {
  idle_since_.reset();
  unattended_ = false;
  restart_ = false;
  if (!origin_) return;
  while (site_.control() && sending_ && sending_() && !host_.Closing())
    host_.ProcessPendingEvents(std::chrono::milliseconds(50));
  site_.Destroy();
  takes_[*origin_] = {module_.CaptureExtension, module_.TrimStart, module_.TrimEnd};
  bridge_.SessionEnded(*origin_);
  origin_.reset();
}

}  // namespace moviletta::web
