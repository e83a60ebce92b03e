// Sending a greeting and a mobile e-mail with the fake editing component and mail sender.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class SendingTest : public ::testing::Test {
 protected:
  SendingTest() {
    server.SetSettings(SettingsDocument(server.address(), {{"OUTPUT", "mpg"}}));
    EXPECT_EQ(harness.Start(), std::nullopt);
    harness.host.on_message_box = [this](std::string_view text) { boxes.emplace_back(text); };
    harness.events.clear();
    server.ClearRequests();
  }
  // Lets the fake editor finish (or fail) its job once the control has started it.
  void FinishCompressionWith(std::optional<Error> failure = std::nullopt) {
    harness.WhenReady(
        [this] {
          const auto& calls = harness.editor->calls;
          return !calls.empty() && calls.back().starts_with("SaveOutputFile");
        },
        [this, failure] {
          harness.editor->RaiseProcessing(1, 2);
          if (failure)
            harness.editor->RaiseFailed(*failure);
          else
            harness.editor->RaiseComplete();
        });
  }
  void SendGreeting() {
    harness.control().SendGreeting(7, "Ann", "A1", "Bob,555,B1", "Hi", "1", 3);
  }
  std::vector<std::string> SenderCalls() const { return harness.mail->calls; }
  std::string Output(const std::string& name) const { return harness.app_directory + "/" + name; }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
  std::vector<std::string> boxes;
};

TEST_F(SendingTest, AGreetingIsCompressedDocumentedAndMailed) {
  FinishCompressionWith();
  SendGreeting();
  EXPECT_EQ(harness.events.front(), (SeenEvent{ControlEvent::ErrMsgChanged, 1, ""}));
  EXPECT_EQ(harness.events.at(1), (SeenEvent{ControlEvent::StatusChanged, 5, ""}));
  EXPECT_THAT(std::vector(harness.events.end() - 2, harness.events.end()),
              ElementsAre(SeenEvent{ControlEvent::StatusChanged, 1, ""},
                          SeenEvent{ControlEvent::StatusChanged, 1, ""}))
      << "status 1 after the send, then once more from StopVideo";
  const std::string body =
      harness.control().GenerateMessageXML(7, "Ann", "A1", "Bob,555,B1", "Hi", "1", 3).ToText();
  EXPECT_THAT(
      SenderCalls(),
      ElementsAre(
          "ListDelimiter=;", "SmtpHost=127.0.0.1:2525", "SenderAddress=studio@greetings.test",
          "SmtpPassword=secret", "RecipientAddress=drop@greetings.test",
          "MailLabel=MovilettaStudio", "MessageBody=" + body,
          "AttachmentList=" + Output("Moviletta.mpg") + ";" + Output("Moviletta.jpg"), "Send"));
  EXPECT_THAT(harness.progress->texts, Contains("Proccesing...  50%"));
  EXPECT_TRUE(harness.panel->visible) << "shown until the result arrives";

  harness.mail->senders.back()->RaiseProgress(40);
  harness.mail->senders.back()->RaiseSendSuccesful();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.progress->text, "Sending...  40%") << "the bar keeps its last text";
  EXPECT_FALSE(harness.panel->visible);
  const std::vector<std::string> calls = SenderCalls();
  EXPECT_EQ(std::vector(calls.end() - 2, calls.end()),
            (std::vector<std::string>{"Disconnect", "Reset"}));
  EXPECT_EQ(harness.mail->live, 0);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SendingTest, AFailedSendShowsTheExplanationOnce) {
  FinishCompressionWith();
  SendGreeting();
  harness.mail->senders.back()->RaiseSendFailed("550 mailbox unavailable");
  harness.host.ProcessPendingEvents();
  EXPECT_THAT(boxes, ElementsAre("550 mailbox unavailable"));
  EXPECT_FALSE(harness.panel->visible);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_EQ(harness.control().ErrMsg(), "");
  EXPECT_EQ(harness.mail->live, 0);
}

TEST_F(SendingTest, AGreetingThatCannotBeCompressedIsNotMailed) {
  FinishCompressionWith(Error(err::kComponentFailed, "disk full"));
  SendGreeting();
  EXPECT_THAT(SenderCalls(), ::testing::Not(Contains("Send")));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("not sent"), std::string::npos);
  EXPECT_FALSE(harness.panel->visible);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_EQ(harness.mail->live, 0);
  EXPECT_EQ(server.RequestsTo("/clientErrLog.asp").at(0).Query("sErrInFunction"),
            "VideoEdit1_Failed");
}

TEST_F(SendingTest, SendGreetingIsGuardedAndSendByEmailIsNot) {
  harness.control().RecordVideo();
  harness.events.clear();
  SendGreeting();
  EXPECT_THAT(harness.events, ElementsAre(SeenEvent{ControlEvent::ErrMsgChanged, 3,
                                                    "Can't Send while in status: 3"}));
  EXPECT_TRUE(harness.mail->senders.empty()) << "a refused send makes no sender";
  EXPECT_FALSE(harness.panel->visible);

  FinishCompressionWith();
  harness.control().SendByEmail("Ann", "a@x", "Bob", "555", "b@x;c@x", "Hi <3 & you");
  EXPECT_EQ(harness.events.at(1),
            (SeenEvent{ControlEvent::StatusChanged, 5, "Can't Send while in status: 3"}))
      << "no guard, and the message is not cleared";
  EXPECT_THAT(SenderCalls(), Contains("MailLabel=Voxa-Mobile 555"));
  EXPECT_THAT(SenderCalls(),
              Contains("MessageBody=<Voxa:From>Ann</Voxa:From><Voxa:To>Bob</Voxa:To>"
                       "<Voxa:ToPhone>555</Voxa:ToPhone><Voxa:Message>Hi &lt;3 &amp; you"
                       "</Voxa:Message><Voxa:FromEmail>a@x</Voxa:FromEmail><Voxa:ToEmail>b@x;c@x"
                       "</Voxa:ToEmail><Voxa:SkinType>NO_SKIN</Voxa:SkinType><Voxa:SkinID>-1"
                       "</Voxa:SkinID><Voxa:InstallationID>-1294967296</Voxa:InstallationID>"
                       "<Voxa:ClientVersion>1.6</Voxa:ClientVersion><Voxa:UseConvertor>0"
                       "</Voxa:UseConvertor>"));
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_THAT(harness.capture->calls, ::testing::Not(Contains("StopCapture")))
      << "the mobile e-mail does not call StopVideo";
}

TEST_F(SendingTest, AReplacedSenderStillDeliversItsResult) {
  FinishCompressionWith();
  SendGreeting();
  FakeMailSender* first = harness.mail->senders.back();
  FinishCompressionWith();
  harness.control().SendByEmail("Ann", "a@x", "Bob", "555", "b@x", "Hi");
  ASSERT_EQ(harness.mail->live, 2) << "the first send goes on";
  first->RaiseSendSuccesful();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.mail->live, 1);
  harness.mail->senders.back()->RaiseSendSuccesful();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.mail->live, 0);
}

}  // namespace
}  // namespace moviletta::testing
