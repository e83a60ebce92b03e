// SPDX-License-Identifier: GPL-3.0-or-later
// Sending a greeting and a mobile e-mail with the fake editing component and mail sender.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/scoped_umask.h"

namespace moviletta::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class SendingTest : public ::testing::Test {
 protected:
  explicit SendingTest(uint64_t outbox_bytes = uint64_t{500} << 20) {
    server.SetSettings(SettingsDocument(server.address(), {{"OUTPUT", "mpg"}}));
    harness.outbox_limits.entries = 1;  // room for one greeting not sent
    harness.outbox_limits.bytes = outbox_bytes;
    EXPECT_EQ(harness.Start(), std::nullopt);
    harness.host.on_message_box = [this](std::string_view text) { boxes.emplace_back(text); };
    harness.events.clear();
    server.ClearRequests();
    std::ofstream(Output("Moviletta.jpg"), std::ios::binary) << "the snapshot";
  }
  // Lets the fake editor finish (or fail) its job once the control has started it; a finished
  // job leaves its output, as the real component does.
  void FinishCompressionWith(std::optional<Error> failure = std::nullopt,
                             std::string video = "the greeting") {
    harness.WhenReady([this] { return harness.editor->running(); },
                      [this, failure, video] {
                        harness.editor->RaiseProcessing(1, 2);
                        if (failure) return harness.editor->RaiseFailed(*failure);
                        std::ofstream(Output("Moviletta.mpg"), std::ios::binary) << video;
                        harness.editor->RaiseComplete();
                      });
  }
  void SendGreeting() {
    harness.control().SendGreeting(7, "Ann", "A1", "Bob,555,B1", "Hi", "1", 3);
  }
  // Sends a greeting whose mail fails; the id of its entry in the outbox.
  std::string KeepAFailedGreeting() {
    FinishCompressionWith();
    SendGreeting();
    harness.mail->senders.back()->RaiseSendFailed("421 try later");
    harness.host.ProcessPendingEvents();
    return nlohmann::json::parse(harness.control().OutboxList())[0]["id"];
  }
  std::vector<std::string> SenderCalls() const { return harness.mail->calls; }
  std::string Output(const std::string& name) const { return harness.app_directory + "/" + name; }
  std::string SendFolder(int send) const {
    return harness.app_directory + "/.sends/" + std::to_string(send) + "/";
  }
  GreetingServerFixture server;
  ControlHarness harness{server.address()};
  std::vector<std::string> boxes;
};

TEST_F(SendingTest, AGreetingIsCompressedDocumentedAndMailed) {
  const testing::ScopedUmask usual(022);
  FinishCompressionWith();
  SendGreeting();
  EXPECT_EQ(harness.events.front(), (SeenEvent{ControlEvent::ErrMsgChanged, 1, ""}));
  EXPECT_EQ(harness.events.at(1), (SeenEvent{ControlEvent::StatusChanged, 5, ""}));
  EXPECT_THAT(std::vector(harness.events.end() - 2, harness.events.end()),
              ElementsAre(SeenEvent{ControlEvent::StatusChanged, 1, ""},
                          SeenEvent{ControlEvent::StatusChanged, 1, ""}))
      << "status 1 after the send, then once more from StopVideo";
  ASSERT_EQ(harness.mail->senders.size(), 1u);
  const std::optional<FakeMailSender::Mail>& mail = harness.mail->senders[0]->sent;
  ASSERT_TRUE(mail.has_value());
  EXPECT_EQ(mail->server, "127.0.0.1:2525");
  EXPECT_EQ(mail->from, "studio@greetings.test");
  EXPECT_EQ(mail->password, "secret");
  EXPECT_EQ(mail->to, "drop@greetings.test");
  EXPECT_EQ(mail->label, "MovilettaStudio");
  EXPECT_EQ(
      mail->body,
      harness.control().GenerateMessageXML(7, "Ann", "A1", "Bob,555,B1", "Hi", "1", 3).ToText());
  EXPECT_THAT(mail->files, ElementsAre(std::pair{"Moviletta.mpg", "the greeting"},
                                       std::pair{"Moviletta.jpg", "the snapshot"}));
  EXPECT_THAT(harness.progress->texts, Contains("Proccesing...  50%"));
  EXPECT_TRUE(harness.panel->visible) << "shown until the result arrives";
  for (const std::string& folder : {harness.app_directory + "/.sends", SendFolder(1)})
    EXPECT_EQ(testing::PermissionsOf(folder), std::filesystem::perms::owner_all)
        << folder << ": the greeting on its way is the visitor's alone";

  harness.mail->senders.back()->RaiseProgress(40);
  harness.mail->senders.back()->RaiseSendSuccesful();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.progress->text(), "Sending...  40%") << "the bar keeps its last text";
  EXPECT_FALSE(harness.panel->visible);
  EXPECT_EQ(harness.mail->live, 0) << "the sender is released with its result";
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
  ASSERT_TRUE(harness.mail->senders.back()->sent.has_value());
  const FakeMailSender::Mail& mail = *harness.mail->senders.back()->sent;
  EXPECT_EQ(mail.label, "Voxa-Mobile 555");
  EXPECT_EQ(mail.body,
            "<Voxa:From>Ann</Voxa:From><Voxa:To>Bob</Voxa:To>"
            "<Voxa:ToPhone>555</Voxa:ToPhone><Voxa:Message>Hi &lt;3 &amp; you"
            "</Voxa:Message><Voxa:FromEmail>a@x</Voxa:FromEmail><Voxa:ToEmail>b@x;c@x"
            "</Voxa:ToEmail><Voxa:SkinType>NO_SKIN</Voxa:SkinType><Voxa:SkinID>-1"
            "</Voxa:SkinID><Voxa:InstallationID>-1294967296</Voxa:InstallationID>"
            "<Voxa:ClientVersion>1.6</Voxa:ClientVersion><Voxa:UseConvertor>0"
            "</Voxa:UseConvertor>");
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

// Two sends at once, as a page makes them with a second click: each has its own sender, its own
// settings and its own outcome, and only the latest drives the bar.
TEST_F(SendingTest, OverlappingSendsEachMailTheirOwnMail) {
  harness.WhenReady([this] { return harness.editor->running(); },
                    [this] {
                      // Done once the mobile send has asked for its compression too.
                      harness.WhenReady(
                          [this] {
                            return std::ranges::count(harness.brought_to_front,
                                                      SurfaceWindow::picGeneral) == 2;
                          },
                          [this] { harness.editor->RaiseComplete(); });
                      harness.control().SendByEmail("Ann", "a@x", "Bob", "555", "b@x", "Hi");
                    });
  SendGreeting();
  ASSERT_EQ(harness.mail->senders.size(), 2u);
  FakeMailSender* greeting = harness.mail->senders[0];
  FakeMailSender* mobile = harness.mail->senders[1];
  ASSERT_TRUE(greeting->sent && mobile->sent) << "each sender sent its own mail";
  EXPECT_EQ(greeting->sent->label, "MovilettaStudio");
  EXPECT_TRUE(greeting->sent->body.starts_with("<?xml"));
  EXPECT_EQ(mobile->sent->label, "Voxa-Mobile 555");
  EXPECT_TRUE(mobile->sent->body.starts_with("<Voxa:From>"));
  EXPECT_EQ(std::ranges::count_if(harness.editor->calls,
                                  [](const std::string& c) { return c.starts_with("Save"); }),
            1)
      << "one compression of the one recording for both";

  mobile->RaiseProgress(30);
  greeting->RaiseProgress(90);  // replaced by the mobile send: not on the bar
  greeting->RaiseSendFailed("550 greeting refused");
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.progress->text(), "Sending...  30%");
  EXPECT_THAT(boxes, ElementsAre("550 greeting refused"));
  EXPECT_TRUE(harness.panel->visible) << "the mobile e-mail is still on its way";
  mobile->RaiseSendSuccesful();
  harness.host.ProcessPendingEvents();
  EXPECT_FALSE(harness.panel->visible);
  EXPECT_EQ(harness.mail->live, 0);
  const std::filesystem::path sends = std::filesystem::path(harness.app_directory) / ".sends";
  EXPECT_TRUE(!std::filesystem::exists(sends) || std::filesystem::is_empty(sends))
      << "each send's folder went with it";
}

// What a mail carries is fixed when it goes: a new take replacing the files in the output folder
// does not reach a mail in flight.
TEST_F(SendingTest, AMailInFlightKeepsItsOwnFiles) {
  const auto write = [](const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  };
  write(Output("Moviletta.jpg"), "snapshot one");
  harness.WhenReady([this] { return harness.editor->running(); },
                    [&] {
                      write(Output("Moviletta.mpg"), "greeting one");
                      harness.editor->RaiseComplete();
                    });
  SendGreeting();
  ASSERT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  std::filesystem::remove(Output("Moviletta.mpg"));  // what the next RecordVideo does
  write(Output("Moviletta.jpg"), "snapshot two");

  const std::string list = harness.mail->senders.at(0)->Setting("AttachmentList");
  const std::string output = list.substr(0, list.find(';'));
  const std::string snapshot = list.substr(list.find(';') + 1);
  const auto read = [](const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
  };
  EXPECT_EQ(read(output), "greeting one");
  EXPECT_EQ(read(snapshot), "snapshot one");
  EXPECT_EQ(std::filesystem::path(output).filename(), "Moviletta.mpg") << "names as sent before";

  harness.mail->senders.at(0)->RaiseSendSuccesful();
  harness.host.ProcessPendingEvents();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(output).parent_path()))
      << "the send's folder goes with its result";
}

// The outbox keeps the greetings whose mail failed; a full one names the greeting it lets go.
TEST_F(SendingTest, AFailedMailWaitsInTheOutboxAndAFullOutboxSaysWhatItDrops) {
  FinishCompressionWith();
  SendGreeting();
  harness.mail->senders.back()->RaiseSendFailed("421 try later");
  harness.host.ProcessPendingEvents();
  FinishCompressionWith();
  harness.control().SendByEmail("Ann", "a@x", "Carl", "556", "", "Hi");
  EXPECT_THAT(boxes, ElementsAre("421 try later",
                                 "The outbox is full: the greeting \"MovilettaStudio\" to "
                                 "Bob,555,B1, not sent, is removed to make room."));
  const std::string list = harness.control().OutboxList();
  EXPECT_EQ(list.find("Bob,555,B1"), std::string::npos) << list;
  EXPECT_NE(list.find("\"recipients\":\"Carl (556)\""), std::string::npos) << list;
  EXPECT_NE(list.find("\"message\":\"Hi\""), std::string::npos) << list;
  EXPECT_NE(list.find("\"sending\":true"), std::string::npos) << "its mail is on its way";

  harness.mail->senders.back()->RaiseSendSuccesful();
  harness.host.ProcessPendingEvents();
  EXPECT_EQ(harness.control().OutboxList(), "[]");
  EXPECT_EQ(boxes.size(), 2u) << "the outbox adds no box of its own to a send's result";
}

// A kept greeting sent again after the settings moved to another mail server keeps its own
// server, and the settings' password goes only to the server it belongs to.
TEST_F(SendingTest, AGreetingSentAgainGivesThePasswordOnlyToItsOwnServer) {
  const std::string id = KeepAFailedGreeting();
  const std::string kept_server = harness.module.ClientSettings.SMTPHOST;
  const std::string password = harness.module.ClientSettings.SMTPPWD;
  ASSERT_FALSE(password.empty());

  harness.module.ClientSettings.SMTPHOST = "mail.elsewhere.example:25";
  harness.control().OutboxSend(id);
  EXPECT_EQ(harness.mail->senders.back()->Setting("SmtpHost"), kept_server);
  EXPECT_EQ(harness.mail->senders.back()->Setting("SmtpPassword"), "")
      << "the new server's password is not given to the old one";
  harness.mail->senders.back()->RaiseSendFailed("421 try later");
  harness.host.ProcessPendingEvents();

  harness.module.ClientSettings.SMTPHOST = kept_server;
  harness.control().OutboxSend(id);
  EXPECT_EQ(harness.mail->senders.back()->Setting("SmtpPassword"), password);
}

// The box that names a greeting to be dropped is a yield: a page may send that very greeting again
// meanwhile, and then it is not removed.
TEST_F(SendingTest, AGreetingSentAgainWhileItsDropIsToldIsNotRemoved) {
  const std::string first = KeepAFailedGreeting();
  harness.host.on_message_box = [&](std::string_view text) {
    boxes.emplace_back(text);
    if (text.find("outbox is full") == std::string_view::npos) return;
    harness.control().StopVideo();  // not guarded: status 1 inside the box
    harness.control().OutboxSend(first);
  };
  FinishCompressionWith();
  harness.control().SendByEmail("Ann", "a@x", "Carl", "556", "", "Hi");
  ASSERT_EQ(boxes.size(), 2u);
  const auto list = nlohmann::json::parse(harness.control().OutboxList());
  EXPECT_TRUE(std::ranges::any_of(list, [&](const auto& e) {
    return e["id"] == first && e["sending"];
  })) << list.dump();
}

// A disk that refuses to write the entry: the send does not start, is told once, and the studio
// goes on; the entry stays whole and can be sent once the disk has room.
TEST_F(SendingTest, AGreetingSentAgainOnAFullDiskIsToldOnceAndKept) {
  const std::string id = KeepAFailedGreeting();
  const std::filesystem::path entry = harness.app_directory + "/OUTBOX/" + id;
  const std::string before = ReadFile((entry / "entry.json").string());
  const std::filesystem::path blocker = entry / ".entry.json.part" / "x";
  std::filesystem::create_directories(blocker);  // the whole-file write cannot be made
  boxes.clear();
  const auto mails = [&] { return std::ranges::count(harness.mail->calls, "Send"); };
  const auto before_mails = mails();
  harness.control().OutboxSend(id);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_EQ(mails(), before_mails) << "no mail started";
  EXPECT_EQ(ReadFile((entry / "entry.json").string()), before);

  std::filesystem::remove_all(blocker.parent_path());
  harness.control().OutboxSend(id);
  EXPECT_EQ(mails(), before_mails + 1);
}

// Room for one greeting of 30 bytes: the greeting and its snapshot take 24.
class SmallOutboxTest : public SendingTest {
 protected:
  SmallOutboxTest() : SendingTest(30) {}
};

TEST_F(SmallOutboxTest, AGreetingLargerThanTheOutboxDropsNoneAndSaysItWasNotKept) {
  const std::string kept = KeepAFailedGreeting();
  FinishCompressionWith(std::nullopt, std::string(100, 'v'));
  SendGreeting();
  EXPECT_EQ(boxes.size(), 1u) << "nothing is dropped to make room for what can never fit";
  harness.mail->senders.back()->RaiseSendFailed("421 try later");
  harness.host.ProcessPendingEvents();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1],
            "421 try later The greeting is larger than the outbox holds and was not kept.");
  const auto list = nlohmann::json::parse(harness.control().OutboxList());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["id"], kept);
}

// A stop in the pause between the compression and the mail starts no mail: the greeting is
// kept in the outbox, and the person is told why it was not sent.
TEST_F(SendingTest, AStopBeforeTheMailStartsSendsNothingAndKeepsTheGreeting) {
  FinishCompressionWith();
  const auto compressed = [this] {
    const std::vector<std::string>& texts = harness.progress->texts;
    return std::find(texts.begin(), texts.end(), "Proccesing...  50%") != texts.end() &&
           harness.progress->text().empty();
  };
  harness.WhenReady(compressed, [this] { harness.host.RequestStop(); });
  SendGreeting();
  EXPECT_THAT(SenderCalls(), ::testing::Not(Contains("Send")));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("stopped"), std::string::npos) << boxes[0];
  const auto kept = nlohmann::json::parse(harness.control().OutboxList());
  ASSERT_EQ(kept.size(), 1u) << "the greeting is kept";
  EXPECT_EQ(kept[0]["explanation"], boxes[0]);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
}

TEST_F(SendingTest, AMailThatCannotBeStartedIsNotLostSilently) {
  harness.mail->fail_on = "Send";
  FinishCompressionWith();
  SendGreeting();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("not sent"), std::string::npos);
  EXPECT_FALSE(harness.panel->visible);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_EQ(harness.mail->live, 0);
  EXPECT_EQ(server.RequestsTo("/clientErrLog.asp").at(0).Query("sErrInFunction"), "SendFile");
}

// Cancel while the greeting is compressed: the send ends without a box and keeps nothing, the
// studio is ready, and the next send of the same take goes.
TEST_F(SendingTest, ACancelWhileCompressingEndsTheSendQuietlyAndTheNextSendGoes) {
  bool cancelled = false;
  harness.WhenReady([this] { return harness.editor->running(); },
                    [&] { cancelled = harness.control().CancelSend(); });
  SendGreeting();
  EXPECT_TRUE(cancelled);
  EXPECT_THAT(SenderCalls(), ::testing::Not(Contains("Send")));
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_EQ(harness.control().OutboxList(), "[]");
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_FALSE(harness.panel->visible);
  EXPECT_EQ(harness.mail->live, 0);
  EXPECT_FALSE(std::filesystem::exists(SendFolder(1)));

  FinishCompressionWith();  // the compression the cancelled send started goes on to its end
  harness.host.ProcessPendingEvents();
  FinishCompressionWith();
  SendGreeting();
  ASSERT_EQ(harness.mail->senders.size(), 2u);
  EXPECT_TRUE(harness.mail->senders.back()->sent.has_value());
}

// Cancel while the mail goes: the transfer is ended, no copy is kept, nothing is told; a second
// Cancel finds nothing under way.
TEST_F(SendingTest, ACancelDuringTheMailEndsItAndKeepsNoCopy) {
  FinishCompressionWith();
  SendGreeting();
  ASSERT_EQ(nlohmann::json::parse(harness.control().OutboxList()).size(), 1u);
  EXPECT_TRUE(harness.control().CancelSend());
  EXPECT_THAT(SenderCalls(), Contains("Disconnect"));
  EXPECT_EQ(harness.mail->live, 0);
  EXPECT_EQ(harness.control().OutboxList(), "[]");
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_FALSE(harness.panel->visible);
  EXPECT_FALSE(harness.control().CancelSend());
}

// A greeting sent again from the outbox and cancelled stays there, ready to go again.
TEST_F(SendingTest, ACancelledGreetingFromTheOutboxStaysThere) {
  const std::string id = KeepAFailedGreeting();
  boxes.clear();
  harness.control().OutboxSend(id);
  EXPECT_TRUE(harness.control().CancelSend());
  const auto list = nlohmann::json::parse(harness.control().OutboxList());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["id"], id);
  EXPECT_FALSE(list[0]["sending"]);
  EXPECT_TRUE(boxes.empty());
  harness.control().OutboxSend(id);
  EXPECT_TRUE(harness.mail->senders.back()->sent.has_value());
}

}  // namespace
}  // namespace moviletta::testing
