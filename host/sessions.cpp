#include "host/sessions.h"

#include <iostream>

namespace moviletta::web {

Sessions::Sessions(WebHost& host, ControlSite& site, EventStream& stream, Bridge& bridge,
                   MakeSetup make_setup)
    : host_(host),
      site_(site),
      stream_(stream),
      bridge_(bridge),
      make_setup_(std::move(make_setup)) {}

void Sessions::Begin(const std::string& origin) {
  idle_since_.reset();
  if (ending_) {  // a claim that came while the last session settles its mail
    after_end_ = origin;
    return;
  }
  if (origin_ == origin) return;
  End();
  Start(origin);
}

void Sessions::Start(const std::string& origin) {
  Setup setup = make_setup_(origin);
  origin_ = origin;
  idle_since_.reset();
  sending_ = std::move(setup.sending);
  stream_.SetAudience(origin);
  host_.UseBag(setup.bag_file);
  bridge_.StartupBegins("waiting for the greeting server at " + setup.config.server_address,
                        origin);
  std::optional<Error> failure;
  try {
    failure = site_.Create(std::move(setup.components), setup.config, /*new_instance=*/true);
  } catch (const Error& e) {
    failure = e;
  }
  if (failure) std::cerr << "start-up failed: " << failure->description() << "\n";
  // The page may initialise the control only when it declares itself safe for that; the bag is
  // read only then.
  if (auto unread = site_.RestoreProperties())
    std::cerr << "the stored properties were not read: " << unread->description() << "\n";
  bridge_.StartupEnded(failure);
}

void Sessions::Idle() {
  if (origin_ && !idle_since_) idle_since_ = std::chrono::steady_clock::now();
}

void Sessions::Restart() {
  if (!origin_ || ending_) return;
  site_.Destroy();  // a control that did not start sends nothing
  Start(*origin_);
}

void Sessions::Tick() {
  if (idle_since_ && std::chrono::steady_clock::now() - *idle_since_ >= grace) End();
}

void Sessions::End() {
  idle_since_.reset();
  if (!origin_ || ending_) return;
  ending_ = true;
  while (site_.control() && sending_ && sending_() && !host_.StopRequested())
    host_.ProcessPendingEvents(std::chrono::milliseconds(50));
  site_.Destroy();
  bridge_.SessionEnded(*origin_);
  origin_.reset();
  ending_ = false;
  if (const std::optional<std::string> next = std::exchange(after_end_, std::nullopt)) Start(*next);
}

}  // namespace moviletta::web
