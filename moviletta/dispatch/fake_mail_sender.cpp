// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/dispatch/fake_mail_sender.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
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
  Mail mail{Setting("SmtpHost"),
            Setting("SenderAddress"),
            Setting("SmtpPassword"),
            Setting("RecipientAddress"),
            Setting("MailLabel"),
            Setting("MessageBody"),
            {}};
  const std::string list = Setting("AttachmentList");
  const std::string delimiter = Setting("ListDelimiter");
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = delimiter.empty() ? std::string::npos : list.find(delimiter, start);
    if (end == std::string::npos) end = list.size();
    const std::filesystem::path path = list.substr(start, end - start);
    start = end + std::max<std::size_t>(delimiter.size(), 1);
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    mail.files.emplace_back(path.filename().string(), bytes.str());
  }
  sent = std::move(mail);
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
