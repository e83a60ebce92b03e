#include "moviletta/dispatch/fake_mail_sender.h"

#include <algorithm>
#include <thread>

namespace moviletta {

FakeMailSender::~FakeMailSender() {
  --log_->live;
  std::replace(log_->senders.begin(), log_->senders.end(), this,
               static_cast<FakeMailSender*>(nullptr));
}

void FakeMailSender::RaiseProgress(int32_t percent) {
  if (progress_) std::thread(progress_, percent).join();
}

void FakeMailSender::RaiseSendFailed(const std::string& explanation) {
  if (failed_) std::thread(failed_, explanation).join();
}

void FakeMailSender::RaiseSendSuccesful() {
  if (succesful_) std::thread(succesful_).join();
}

}  // namespace moviletta
