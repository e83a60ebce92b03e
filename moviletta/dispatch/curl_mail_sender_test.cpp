// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/dispatch/curl_mail_sender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <sstream>

#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/mail_drop.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

// A sender pointed at a mail drop, with what it told.
class MailSenderTest : public ::testing::Test {
 protected:
  MailSenderTest() {
    fs::create_directories(folder_);
    WriteFile(Path("Moviletta.wmv"),
              std::string("\x30\x26\xb2\x75\0binary\r\n.\r\n", 17) + std::string(300000, '\xa5'));
    WriteFile(Path("Moviletta.jpg"), std::string("\xff\xd8\xff\xe0 jpeg", 9));
  }
  ~MailSenderTest() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  // Sends one mail through `drop` and returns the failure explanation, or "" on success.
  std::string Send(const std::string& host, const std::string& label, const std::string& body,
                   const std::string& password = "", const std::string& from = "studio@test",
                   const std::string& to = "drop@test") {
    CurlMailSender sender(options_);
    std::mutex mutex;
    std::condition_variable done;
    std::optional<std::string> result;
    sender.OnProgress([&](int32_t percent) {
      std::lock_guard lock(mutex);
      if (throw_in_progress_) throw std::runtime_error("a progress listener that throws");
      progress_.push_back(percent);
    });
    sender.OnSendFailed([&](std::string explanation) {
      std::lock_guard lock(mutex);
      result = explanation.empty() ? "?" : explanation;
      done.notify_all();
    });
    sender.OnSendSuccesful([&] {
      std::lock_guard lock(mutex);
      result = "";
      done.notify_all();
    });
    sender.SetListDelimiter(";");
    sender.SetSmtpHost(host);
    sender.SetSenderAddress(from);
    sender.SetSmtpPassword(password);
    sender.SetRecipientAddress(to);
    sender.SetMailLabel(label);
    sender.SetMessageBody(body);
    sender.SetAttachmentList(Path("Moviletta.wmv") + ";" + Path("Moviletta.jpg"));
    sender.Send();
    std::unique_lock lock(mutex);
    EXPECT_TRUE(done.wait_for(lock, std::chrono::seconds(20), [&] { return result.has_value(); }));
    lock.unlock();
    sender.Disconnect();
    sender.Reset();
    return result.value_or("no result");
  }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-smtp-" + std::to_string(getpid()));
  std::vector<int32_t> progress_;
  SmtpOptions options_{std::chrono::milliseconds(2000), std::chrono::milliseconds(1500)};
  bool throw_in_progress_ = false;
};

TEST_F(MailSenderTest, DeliversLabelBodyAndBothAttachmentsExactly) {
  MailDrop drop;
  const std::string body = "<?xml version=\"1.0\"?><MLMESSAGE>" + std::string(3000, 'x') +
                           "</MLMESSAGE>\n.\nline after a lone dot";
  ASSERT_EQ(Send(drop.host(), "MovilettaStudio", body), "");
  const auto mail = drop.WaitForMail(1, std::chrono::seconds(5));
  ASSERT_TRUE(mail);
  EXPECT_EQ(ReadFile(*mail + ".envelope"), "studio@test\ndrop@test\n");
  EXPECT_EQ(ReadFile(*mail + ".subject"), "MovilettaStudio");
  EXPECT_EQ(ReadFile(*mail + ".body"), body);
  EXPECT_EQ(ReadFile(*mail + ".parts/Moviletta.wmv"), ReadFile(Path("Moviletta.wmv")));
  EXPECT_EQ(ReadFile(*mail + ".parts/Moviletta.jpg"), ReadFile(Path("Moviletta.jpg")));
  EXPECT_EQ(ReadFile(*mail + ".types"), "Moviletta.wmv video/x-ms-wmv\nMoviletta.jpg image/jpeg\n");
  const std::string headers = ReadFile(*mail + ".headers");
  for (const char* name : {"Date", "Message-ID", "From", "To", "Subject", "MIME-Version"})
    EXPECT_NE(headers.find(std::string(name) + "\n"), std::string::npos) << name;
  // The bar moves through the transfer (its 400 kB in base64 go in many pieces), never back.
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress_.begin(), progress_.end()));
  EXPECT_GE(std::ranges::count_if(progress_, [](int32_t p) { return p > 0 && p < 100; }), 3)
      << "no step between the start and the end";
}

TEST_F(MailSenderTest, AnyLabelIsDeliveredWholeInFoldedHeaderLines) {
  MailDrop drop;
  std::string umlauts;
  for (int i = 0; i < 800; ++i) umlauts += "\xc3\xbc";
  const std::string labels[] = {"Voxa-Mobile " + std::string(1000, '1'), "Voxa-Mobile " + umlauts,
                                "Voxa-Mobile +41 79 555 01 01"};
  for (const std::string& label : labels) ASSERT_EQ(Send(drop.host(), label, "b"), "") << label;
  for (int n = 1; n <= 3; ++n) {
    const std::string mail = *drop.WaitForMail(n, std::chrono::seconds(5));
    EXPECT_EQ(ReadFile(mail + ".subject"), labels[n - 1]);
    std::istringstream lines(ReadFile(mail + ".eml"));
    bool in_subject = false;
    for (std::string line; std::getline(lines, line);) {
      in_subject = line.starts_with("Subject: ") || (in_subject && line.starts_with(" "));
      EXPECT_TRUE(!in_subject || line.size() <= 78u + 1) << "a line with its CR, within 78";
    }
    if (n == 3) {
      EXPECT_NE(ReadFile(mail + ".eml").find("Subject: Voxa-Mobile +41 79 555 01 01\r\n"),
                std::string::npos)
          << "a short plain label stays as it is";
    }
  }
}

TEST_F(MailSenderTest, AuthenticatesWhenAPasswordIsSet) {
  MailDrop drop({"--password", "s3cret"});
  EXPECT_EQ(Send(drop.host(), "MovilettaStudio", "b", "s3cret"), "");
  EXPECT_TRUE(drop.WaitForMail(1, std::chrono::seconds(5)));
  const std::string denied = Send(drop.host(), "MovilettaStudio", "b", "wrong");
  EXPECT_NE(denied.find("535"), std::string::npos) << "[" << denied << "]";
  EXPECT_NE(Send(drop.host(), "MovilettaStudio", "b"), "") << "the server requires AUTH";
  EXPECT_EQ(drop.Count(), 1);

  options_.trust_loopback = false;  // as for a mail server elsewhere: no password in clear
  const std::string clear = Send(drop.host(), "MovilettaStudio", "b", "s3cret");
  EXPECT_NE(clear.find("offers no encrypted connection"), std::string::npos) << clear;
  EXPECT_EQ(drop.Count(), 1);
}

TEST_F(MailSenderTest, AThrowingProgressListenerFailsTheSendInsteadOfTheProcess) {
  MailDrop drop;
  throw_in_progress_ = true;
  const std::string failed = Send(drop.host(), "MovilettaStudio", "b");
  EXPECT_NE(failed.find("a progress listener that throws"), std::string::npos) << failed;
}

TEST_F(MailSenderTest, ServersThatRefuseOrNeverAnswerGiveOneFailure) {
  MailDrop rejecting({"--reject-rcpt"});
  const std::string rejected = Send(rejecting.host(), "MovilettaStudio", "b");
  EXPECT_NE(rejected.find("550"), std::string::npos) << rejected;

  MailDrop silent({"--silent"});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_NE(Send(silent.host(), "MovilettaStudio", "b"), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

  const std::string down = Send("127.0.0.1:1", "MovilettaStudio", "b");
  EXPECT_NE(down.find("onnect"), std::string::npos) << down;
}

TEST_F(MailSenderTest, PageInputCannotForgeHeadersOrCommands) {
  MailDrop drop;
  const std::string label = "Voxa-Mobile 555\r\nBcc: evil@test\r\nX-Forged: 1";
  ASSERT_EQ(Send(drop.host(), label, "b"), "");
  const auto mail = drop.WaitForMail(1, std::chrono::seconds(5));
  ASSERT_TRUE(mail);
  EXPECT_EQ(ReadFile(*mail + ".subject"), "Voxa-Mobile 555  Bcc: evil@test  X-Forged: 1");
  EXPECT_EQ(ReadFile(*mail + ".headers").find("Bcc"), std::string::npos);
  EXPECT_EQ(ReadFile(*mail + ".envelope"), "studio@test\ndrop@test\n");

  const std::string unicode =
      "Voxa-Mobile \xe2\x98\x8e +41 \xc3\xa9\xc3\xa8 " + std::string(60, 'x');
  ASSERT_EQ(Send(drop.host(), unicode, "b"), "");
  ASSERT_TRUE(drop.WaitForMail(2, std::chrono::seconds(5)));
  EXPECT_EQ(ReadFile(*drop.WaitForMail(2, std::chrono::seconds(1)) + ".subject"), unicode);

  for (const char* address : {"drop@test\r\nRCPT TO:<evil@test>", "a b@test", "<x@test>", ""})
    EXPECT_NE(Send(drop.host(), "L", "b", "", "studio@test", address), "") << address;
  EXPECT_NE(Send("127.0.0.1:25\r\nQUIT", "L", "b"), "");
  EXPECT_EQ(drop.Count(), 2);
}

}  // namespace
}  // namespace moviletta::testing
