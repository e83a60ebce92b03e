// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/intake/intake.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "service/store/sqlite_store.h"
#include "service/web/secrets.h"
#include "tests/fixtures/studio_mails.h"

namespace moviletta::service {
namespace {

namespace fs = std::filesystem;
using testing::MessageDocument;

// One greeting and one mobile e-mail as the studio mails them, made once for every test.
class IntakeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitSecrets();
    const std::string files = Folder("files");
    testing::MakeGreetingFiles(files, 2);
    greeting_ = new std::string(testing::StudioMail(
        files, "A greeting",
        MessageDocument("Ann \r\nBcc: x@example.com", "ann@example.com",
                        "Bob,555,bob@example.com;Cy,556,not-an-address;Di,,di@example",
                        "Happy birthday <3 & more")));
    mobile_ = new std::string(testing::StudioMail(
        files, "Voxa-Mobile 555",
        "<Voxa:From>Ann</Voxa:From><Voxa:To>Bob</Voxa:To><Voxa:ToPhone>+1 555</Voxa:ToPhone>"
        "<Voxa:Message>Hi</Voxa:Message><Voxa:FromEmail>ann@example.com</Voxa:FromEmail>"
        "<Voxa:ToEmail>bob@example.com, cy@example.com</Voxa:ToEmail>"));
    fs::remove_all(files);
  }
  static void TearDownTestSuite() {
    delete greeting_;
    delete mobile_;
  }
  static std::string Folder(const std::string& name) {
    return (fs::temp_directory_path() /
            ("moviletta-intake-" + std::to_string(::getpid()) + "-" + name))
        .string();
  }

  static std::string Made(const std::string& folder) {
    fs::create_directories(folder);
    return folder;
  }

  IntakeTest() {
    store_.Migrate();
    store_.AddSite("greetings.example.com");
  }
  ~IntakeTest() override { fs::remove_all(data_); }

  int Folders(const std::string& under) const {
    int count = 0;
    if (fs::exists(data_ + "/" + under))
      for ([[maybe_unused]] const auto& entry : fs::directory_iterator(data_ + "/" + under))
        ++count;
    return count;
  }

  static std::string* greeting_;
  static std::string* mobile_;
  std::string data_ = Made(Folder("data"));
  SqliteStore store_{data_ + "/greetings.sqlite3"};
  Greetings greetings_{OpenSql("", data_ + "/greetings.sqlite3")};
  Intake intake_{greetings_, data_, [] { return Time(std::chrono::hours(490000)); }};
};

std::string* IntakeTest::greeting_ = nullptr;
std::string* IntakeTest::mobile_ = nullptr;

// The studio's greeting is kept whole: its words cleaned of anything that could reach a header,
// its recipients with the addresses a relay can take, the sender's copy, its files and a job to
// make its video. The mail server handing the same mail over again makes no second greeting.
TEST_F(IntakeTest, AGreetingIsKeptOnceWithItsRecipientsFilesAndJob) {
  const IntakeOutcome taken = intake_.Deliver(*greeting_, "");
  ASSERT_EQ(taken.status, IntakeOutcome::kTaken) << taken.reason;
  const std::optional<Greeting> g = greetings_.ById(taken.greeting);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->kind, "greeting");
  EXPECT_EQ(g->sender_name, "Ann   Bcc: x@example.com") << "no line break survives";
  EXPECT_EQ(g->message, "Happy birthday <3 & more");
  EXPECT_EQ(g->state, "taken");
  EXPECT_GE(g->token.size(), 32u) << "at least 128 random bits";
  EXPECT_NEAR(static_cast<double>(g->seconds_ms), 2000, 100);
  ASSERT_EQ(g->recipients.size(), 4u);
  EXPECT_EQ(g->recipients[0].email, "bob@example.com");
  EXPECT_EQ(g->recipients[1].email, "") << "not an address";
  EXPECT_EQ(g->recipients[1].cell, "556");
  EXPECT_EQ(g->recipients[2].email, "") << "no domain";
  EXPECT_EQ(g->recipients[3].role, "sender");
  EXPECT_TRUE(fs::exists(data_ + "/media/" + g->token + "/greeting.wmv"));
  EXPECT_TRUE(fs::exists(data_ + "/media/" + g->token + "/snapshot.jpg"));
  EXPECT_EQ(
      fs::status(data_ + "/media/" + g->token + "/greeting.wmv").permissions() & fs::perms::all,
      fs::perms::owner_read | fs::perms::owner_write);
  const std::optional<Job> job =
      greetings_.ClaimJob("t", Time(std::chrono::hours(490001)), std::chrono::seconds(60));
  ASSERT_TRUE(job);
  EXPECT_EQ(job->kind, "convert");

  const IntakeOutcome again = intake_.Deliver(*greeting_, "");
  EXPECT_EQ(again.status, IntakeOutcome::kTaken);
  EXPECT_EQ(again.greeting, taken.greeting);
  EXPECT_EQ(Folders("media"), 1) << "the second hand-over left no files";
}

// A mobile e-mail names a phone and e-mail copies, whatever separates them.
TEST_F(IntakeTest, AMobileEmailGoesToItsPhoneAndItsCopies) {
  const IntakeOutcome taken = intake_.Deliver(*mobile_, "");
  ASSERT_EQ(taken.status, IntakeOutcome::kTaken) << taken.reason;
  const std::optional<Greeting> g = greetings_.ById(taken.greeting);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->kind, "mobile");
  ASSERT_EQ(g->recipients.size(), 4u);
  EXPECT_EQ(g->recipients[0].cell, "+1 555");
  EXPECT_EQ(g->recipients[1].email, "bob@example.com");
  EXPECT_EQ(g->recipients[2].email, "cy@example.com");
  EXPECT_EQ(g->recipients[3].role, "sender");
}

// Whatever a hostile or broken mail holds, it is refused with a reason that says what, kept in
// quarantine, never half kept; and a good mail after it still goes through.
TEST_F(IntakeTest, HostileMailsAreRefusedWithAReasonAndAGoodOneStillGoesThrough) {
  const std::string header = "From: a@example.com\r\nTo: b@example.com\r\nSubject: x\r\n";
  std::string many = header + "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
  for (int i = 0; i < 10000; ++i) many += "--b\r\nContent-Type: text/plain\r\n\r\nx\r\n";
  many += "--b--\r\n";
  std::string deep = header;
  for (int i = 0; i < 1000; ++i)
    deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
            std::to_string(i) + "\r\n";
  std::string long_header = header + "X-Long: " + std::string(2 << 20, 'a') + "\r\n\r\nbody";
  std::string broken = *greeting_;
  const std::size_t video = broken.find("Moviletta.wmv");
  ASSERT_NE(video, std::string::npos);
  const std::size_t data = broken.find("\r\n\r\n", video) + 4;
  for (std::size_t i = data; i < data + 2000 && i < broken.size(); ++i)
    if (std::isalnum(static_cast<unsigned char>(broken[i]))) broken[i] = 'A';
  std::string not_a_document = *greeting_;
  const std::size_t root = not_a_document.find("MLMESSAGE");
  ASSERT_NE(root, std::string::npos) << "the body is quoted-printable but keeps this word";
  not_a_document.replace(root, 9, "XLMESSAGE");
  for (std::size_t at; (at = not_a_document.find("MLMESSAGE")) != std::string::npos;)
    not_a_document.replace(at, 9, "XLMESSAGE");

  const std::vector<std::pair<std::string, std::string>> cases{
      {"", "empty"},
      {"just some words without a header", "not a mail"},
      {many, "parts"},
      {deep, "parts"},
      {long_header, "header is longer"},
      {broken, "video"},
      {not_a_document, "neither a message document"},
  };
  for (const auto& [mail, reason] : cases) {
    const IntakeOutcome outcome = intake_.Deliver(mail, "");
    EXPECT_EQ(outcome.status, IntakeOutcome::kNever) << reason;
    EXPECT_NE(outcome.reason.find(reason), std::string::npos) << outcome.reason;
  }
  EXPECT_EQ(greetings_.Quarantined().size(), cases.size());
  EXPECT_EQ(Folders("quarantine"), static_cast<int>(cases.size()));
  EXPECT_EQ(Folders("media"), 0) << "nothing half kept";
  EXPECT_EQ(intake_.Deliver(*greeting_, "").status, IntakeOutcome::kTaken);
}

// A mail for no site's mail drop can never be delivered; a disk that cannot take the files is a
// passing failure the mail server waits out, and nothing is quarantined for it.
TEST_F(IntakeTest, TheSiteIsFoundByItsMailDropAndADiskFailureIsPassing) {
  store_.AddSite("other.example.com");
  store_.SetSettings(*store_.SiteOf("other.example.com"), {{"SENDTO", "drop@other.example.com"}});
  const IntakeOutcome unknown = intake_.Deliver(*greeting_, "nobody@example.com");
  EXPECT_EQ(unknown.status, IntakeOutcome::kNever);
  EXPECT_NE(unknown.reason.find("nobody@example.com"), std::string::npos);
  const IntakeOutcome other = intake_.Deliver(*greeting_, "Drop@Other.example.com");
  ASSERT_EQ(other.status, IntakeOutcome::kTaken) << other.reason;
  EXPECT_EQ(greetings_.ById(other.greeting)->site, *store_.SiteOf("other.example.com"));

  fs::remove_all(data_ + "/media");
  { std::ofstream blocker(data_ + "/media"); }  // the media folder cannot be made
  const IntakeOutcome later = intake_.Deliver(*mobile_, "drop@other.example.com");
  EXPECT_EQ(later.status, IntakeOutcome::kLater) << later.reason;
  EXPECT_EQ(greetings_.Quarantined().size(), 1u) << "only the unknown drop's";
}

}  // namespace
}  // namespace moviletta::service
