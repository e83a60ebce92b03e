#include "moviletta/dispatch/fake_mail_sender.h"

#include <algorithm>
#include <thread>

#include "moviletta/common/error.h"

namespace moviletta {

FakeMailSender::~FakeMailSender() {
  --log_->live;
  std::replace(log_->senders.begin(), log_->senders.end(), this,
               static_cast<FakeMailSender*>(nullptr));
}

void FakeMailSender::Record(std::string call) {
  if (!log_->fail_on.empty() && call.substr(0, call.find('=')) == log_->fail_on)
    throw Error(err::kComponentFailed, log_->fail_on + " failed", "FakeMailSender");
  calls.push_back(call);
  log_->calls.push_back(std::move(call));
}

void FakeMailSender::Send() {
  if (std::ranges::count(calls, "Send") > 0)
    throw Error(err::kComponentFailed, "a send runs already", "FakeMailSender");
  Record("Send");
}

std::string FakeMailSender::Setting(const std::string& name) const {
  std::string value;
  for (const std::string& call : calls)
    if (call.starts_with(name + "=")) value = call.substr(name.size() + 1);
  return value;
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
