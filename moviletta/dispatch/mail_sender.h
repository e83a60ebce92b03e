#pragma once

#include <functional>
#include <memory>

namespace moviletta {

// One outgoing mail (poSendMail). A sender is made for each send and released by the control
// when the send has ended, or at shutdown; releasing it does not wait for a send in progress.
class MailSender {
 public:
  virtual ~MailSender() = default;
};

// Makes a new sender; throws Error when none can be made.
using MailSenderFactory = std::function<std::unique_ptr<MailSender>()>;

}  // namespace moviletta
