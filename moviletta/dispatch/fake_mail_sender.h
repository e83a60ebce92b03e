#pragma once

#include <memory>

#include "moviletta/dispatch/mail_sender.h"

namespace moviletta {

// A sender that only tells whether it is still alive: `live` counts the senders not yet released.
class FakeMailSender : public MailSender {
 public:
  explicit FakeMailSender(std::shared_ptr<int> live) : live_(std::move(live)) { ++*live_; }
  ~FakeMailSender() override { --*live_; }

  static MailSenderFactory Factory(std::shared_ptr<int> live) {
    return [live] { return std::make_unique<FakeMailSender>(live); };
  }

 private:
  std::shared_ptr<int> live_;
};

}  // namespace moviletta
