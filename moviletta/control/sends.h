// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "moviletta/control/components.h"
#include "moviletta/control/host.h"
#include "moviletta/control/outgoing_send.h"
#include "moviletta/outbox/outbox.h"
#include "moviletta/reporting/error_reporter.h"

namespace moviletta {

// How a send ended: its mail went, its mail failed (with the mail's explanation), or its mail
// never started (with what the person is told), or the person cancelled it (nothing is told).
struct SendOutcome {
  enum class Kind { kSent, kFailed, kNotStarted, kCancelled };
  Kind kind;
  std::string why;
};

// The sends the control accepted, each from its start to its one outcome: its own mail sender and
// folder, its mail kept in the outbox until it is known to have gone, the latest send (whose
// sender is the control's poSendMail and which alone drives the bar), and the panel shown while
// sends are under way. Host thread only; everything passed in must outlive the object.
class Sends {
 public:
  Sends(Host& host, Components& components, Outbox& outbox, ErrorReporter& reporter,
        std::string app_directory)
      : host_(host),
        components_(components),
        outbox_(outbox),
        reporter_(reporter),
        app_directory_(std::move(app_directory)) {}

  // A new send, the latest from now on, with its own mail sender, whose notifications `wire`
  // connects, and its own empty folder. Throws Error when either cannot be made.
  std::shared_ptr<OutgoingSend> Start(const std::function<void(uint64_t, MailSender&)>& wire);
  // The send `id` while it has no outcome; null after.
  OutgoingSend* Find(uint64_t id) const;
  // The latest send's mail sender while it has no outcome; null otherwise.
  MailSender* latest_sender() const { return latest_sender_; }
  // Every send under way.
  std::vector<std::shared_ptr<OutgoingSend>> UnderWay() const;

  // Freezes `snapshot` into the send's folder now; the files its mail carries: the output named
  // `output_name` (frozen when its compression completes) and that snapshot.
  std::vector<std::string> Freeze(OutgoingSend& send, const std::string& snapshot,
                                  const std::string& output_name);
  // Keeps `mail` in the outbox (unless it comes from there, naming to the person each older
  // greeting dropped to make room), then gives it to the send's mail sender and starts it, unless
  // the studio stops. A failure is reported as "SendFile" and leaves the send unstarted.
  void Mail(OutgoingSend& send, const OutboxMail& mail);
  // The one end of send `id` (nothing when it has ended already): the outbox learns the outcome,
  // a failure is told in a box, the sender and the folder go, and the panel hides when it was the
  // latest send or no other is under way.
  void Settle(uint64_t id, const SendOutcome& outcome);
  // Settles send `id` as one whose mail did not start, telling `why` (by default: the studio
  // stopped first, or the mail could not be started); a cancelled send ends without a word.
  void SettleUnstarted(uint64_t id, const std::string& why = "");
  // Cancels the latest send: its mail in flight ends now; one whose mail has not started is
  // marked, and its own call settles it. False when no send is under way.
  bool CancelLatest();
  // Ends every send without a word (the control's end).
  void EndAll();

 private:
  // Takes send `id` out: its sender's two ending operations, then the sender and the folder go.
  void End(uint64_t id);

  Host& host_;
  Components& components_;
  Outbox& outbox_;
  ErrorReporter& reporter_;
  const std::string app_directory_;
  std::map<uint64_t, std::shared_ptr<OutgoingSend>> sends_;
  uint64_t last_id_ = 0;
  MailSender* latest_sender_ = nullptr;  // owned by the latest send
};

}  // namespace moviletta
