// What a mail server runs for each mail, moviletta-deliver: a node running on this host takes the
// mail in through its door; where none answers, deliver takes it in itself.
#include <httplib.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "service/intake/door_file.h"
#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/raw_request.h"
#include "tests/fixtures/recordings.h"
#include "tests/fixtures/studio_mails.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class DeliverDoorTest : public ::testing::Test {
 protected:
  DeliverDoorTest() {
    fs::create_directories(data_);
    MakeGreetingFiles(folder_ + "/studio", 1);
    mail_ = StudioMail(folder_ + "/studio", "A greeting",
                       MessageDocument("Ann", "ann@example.com", "Bob,,bob@example.com", "Hi"));
  }
  ~DeliverDoorTest() override { fs::remove_all(folder_); }

  // The studio's mail as greeting number `n`, in a file.
  std::string MailFile(int n) const {
    return WriteAsAnotherMail(mail_, std::to_string(n),
                              folder_ + "/mail-" + std::to_string(n) + ".eml");
  }

  // How many greetings the service keeps.
  int GreetingsKept() const {
    const std::string report =
        RunGreetings({"report", "--data", data_, "--site", "greetings.test"}).output;
    int count = 0;
    for (std::size_t at = 0; (at = report.find("\ngreeting ", at)) != std::string::npos; ++at)
      ++count;
    return count + (report.starts_with("greeting ") ? 1 : 0);
  }

  std::string folder_ =
      (fs::temp_directory_path() / ("moviletta-door-" + std::to_string(::getpid()))).string();
  std::string data_ = folder_ + "/data";
  std::string mail_;
  // A database deliver cannot open: a mail taken in with it was taken in by a node.
  std::vector<std::string> unusable_ = {"--database", "sqlite:" + folder_ + "/none/greetings.db"};
};

// A running node takes the mails in with its own database connection; its door is its user's
// alone, refuses a caller without its token, and goes with the node.
TEST_F(DeliverDoorTest, ANodeOnThisHostTakesTheMailsThroughItsDoor) {
  GreetingsProcess node(data_, {"--no-work", "--site", "greetings.test"});
  ASSERT_GT(node.port, 0);
  const std::vector<service::Door> doors = service::DoorsOfThisHost(data_);
  ASSERT_EQ(doors.size(), 1u);
  EXPECT_EQ(fs::status(doors[0].file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  EXPECT_EQ(DeliverFile(data_, MailFile(1), unusable_), 0);
  EXPECT_EQ(DeliverFile(data_, MailFile(1), unusable_), 0) << "the same mail again";
  EXPECT_EQ(DeliverFile(data_, MailFile(2), unusable_), 0);
  EXPECT_EQ(GreetingsKept(), 2);

  std::ofstream(folder_ + "/text.eml") << "Subject: hello\r\n\r\nno greeting\r\n";
  EXPECT_EQ(DeliverFile(data_, folder_ + "/text.eml", unusable_), 65);
  // One byte past the largest mail: refused by the node, naming the limit.
  std::string big = mail_;
  big.resize(service::kMailBytesLimit + 1, 'x');
  std::ofstream(folder_ + "/big.eml", std::ios::binary) << big << "more";
  EXPECT_EQ(DeliverFile(data_, folder_ + "/big.eml", unusable_), 65);

  httplib::Client door("127.0.0.1", doors[0].port);
  for (const std::string& token : {std::string(), doors[0].token.substr(1) + "0"}) {
    const auto refused = door.Post("/mail", {{service::kDoorTokenHeader, token}},
                                   mail_ + "\r\nanother", "message/rfc822");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403) << "token \"" << token << "\"";
  }
  EXPECT_EQ(GreetingsKept(), 2);
  // A caller without the token is answered before its mail is read: it announces a large one
  // and sends none of it.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(RawRequest(doors[0].port,
                       "POST /mail HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 60000000")
                .substr(0, 12),
            "HTTP/1.1 403");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);

  node.Signal(SIGTERM);
  EXPECT_EQ(node.EndsWithin(10s), 0);
  EXPECT_TRUE(service::DoorsOfThisHost(data_).empty());
}

// Without a node that answers (none runs; one was killed and left its door; a door's port is
// another program's now), deliver takes the mail in itself, and its own failure reaches the mail
// server as a passing one.
TEST_F(DeliverDoorTest, WhereNoNodeAnswersDeliverTakesTheMailItself) {
  ASSERT_EQ(
      RunGreetings({"settings", "--data", data_, "--site", "greetings.test", "FPS=15"}).status, 0);
  EXPECT_EQ(DeliverFile(data_, MailFile(1)), 0);
  {
    GreetingsProcess killed(data_, {"--no-work", "--site", "greetings.test"});
    ASSERT_GT(killed.port, 0);
  }
  ASSERT_EQ(service::DoorsOfThisHost(data_).size(), 1u) << "left by the killed node";
  EXPECT_EQ(DeliverFile(data_, MailFile(2)), 0);

  httplib::Server other;
  const int port = other.bind_to_any_port("127.0.0.1");
  std::thread listening([&] { other.listen_after_bind(); });
  while (!other.is_running()) std::this_thread::sleep_for(1ms);
  std::ofstream(service::DoorFolder(data_) + "/" +
                fs::path(service::DoorsOfThisHost(data_)[0].file).filename().string())
      << port << " 0123456789abcdef0123456789abcdef\n";
  EXPECT_EQ(DeliverFile(data_, MailFile(3)), 0);
  EXPECT_EQ(GreetingsKept(), 3);
  EXPECT_EQ(DeliverFile(data_, MailFile(4), unusable_), 75) << "deliver's database is away";
  other.stop();
  listening.join();

  // A node that starts takes the doors of the nodes gone away.
  GreetingsProcess next(data_, {"--no-work", "--site", "greetings.test"});
  ASSERT_GT(next.port, 0);
  const std::vector<service::Door> doors = service::DoorsOfThisHost(data_);
  ASSERT_EQ(doors.size(), 1u);
  EXPECT_NE(doors[0].port, port);
  EXPECT_EQ(DeliverFile(data_, MailFile(4), unusable_), 0) << "taken by the new node";
}

}  // namespace
}  // namespace moviletta::testing
