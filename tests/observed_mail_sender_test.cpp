// SPDX-License-Identifier: GPL-3.0-or-later
// The studio tells its page how each send ends, from the sender's own notifications.
#include "host/studio/observed_mail_sender.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "moviletta/dispatch/fake_mail_sender.h"

namespace moviletta::testing {
namespace {

using nlohmann::json;

std::vector<std::pair<std::string, json>> Published(const web::EventStream& stream) {
  uint64_t last = 0;
  std::vector<std::pair<std::string, json>> events;
  for (const auto& e : stream.Current(last)) events.emplace_back(e.name, json::parse(e.json));
  return events;
}

TEST(ObservedMailSender, EachSendIsNumberedAndItsResultPublishedBeforeTheControlHearsIt) {
  web::EventStream stream;
  auto log = std::make_shared<FakeMailSender::Log>();
  const MailSenderFactory make = web::ObservedMailSenders(FakeMailSender::Factory(log), stream);

  std::vector<std::string> heard;
  const std::unique_ptr<MailSender> first = make();
  first->OnSendSuccesful(
      [&] { heard.push_back("sent, page told: " + std::to_string(Published(stream).size())); });
  first->SetMailLabel("Greeting");
  first->Send();
  EXPECT_EQ(log->calls, (std::vector<std::string>{"MailLabel=Greeting", "Send"}));
  log->senders[0]->RaiseSendSuccesful();

  const std::unique_ptr<MailSender> second = make();
  second->OnSendFailed([&](std::string why) { heard.push_back("failed: " + why); });
  second->SetMailLabel("Voxa-Mobile 555");
  second->Send();
  log->senders[1]->RaiseSendFailed("550 mailbox unavailable");

  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], "sent, page told: 2") << "start and result came first";
  EXPECT_EQ(heard[1], "failed: 550 mailbox unavailable");
  const auto events = Published(stream);
  ASSERT_EQ(events.size(), 2u) << "the latest start and result are the state";
  EXPECT_EQ(events[0].first, "sendstart");
  EXPECT_EQ(events[0].second["send"], 2);
  EXPECT_EQ(events[0].second["label"], "Voxa-Mobile 555");
  EXPECT_EQ(events[1].first, "sendresult");
  EXPECT_EQ(events[1].second["send"], 2);
  EXPECT_EQ(events[1].second["sent"], false);
  EXPECT_EQ(events[1].second["explanation"], "550 mailbox unavailable");
  EXPECT_GE(events[1].second["at"].get<int64_t>(), events[0].second["at"].get<int64_t>());
}

// A sender whose worker reports as it is joined, when the sender is destroyed mid-send.
class ReportsAsItEnds : public FakeMailSender {
 public:
  using FakeMailSender::FakeMailSender;
  ~ReportsAsItEnds() override { RaiseSendFailed("the transfer was cancelled"); }
};

TEST(ObservedMailSender, AReportWhileTheSenderIsDestroyedStillReadsAWholeWrapper) {
  web::EventStream stream;
  auto log = std::make_shared<FakeMailSender::Log>();
  const MailSenderFactory make = web::ObservedMailSenders(
      [log]() -> std::unique_ptr<MailSender> { return std::make_unique<ReportsAsItEnds>(log); },
      stream);
  std::unique_ptr<MailSender> sender = make();
  std::string heard;
  sender->OnSendFailed([&](std::string why) { heard = why; });
  const std::string label = "A greeting for the whole family, with love";  // on the heap
  sender->SetMailLabel(label);
  sender->Send();
  sender.reset();
  EXPECT_EQ(heard, "the transfer was cancelled");
  const auto events = Published(stream);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].second["label"], label);
}

}  // namespace
}  // namespace moviletta::testing
