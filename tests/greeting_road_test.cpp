// SPDX-License-Identifier: GPL-3.0-or-later
// The road of a greeting after the studio: the mail drop's mail handed to `deliver` as a mail
// server would, the service making the video for every screen and mailing the recipients through
// its relay, and the watch page as a recipient's browser uses it.
#include <httplib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/media_probe.h"
#include "tests/fixtures/studio_mails.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class GreetingRoadTest : public ::testing::Test {
 protected:
  ~GreetingRoadTest() override { fs::remove_all(folder_); }

  // `deliver` with the mail on standard input; its exit status.
  int Deliver(const std::string& mail) const {
    const std::string file = folder_ + "/incoming.eml";
    std::ofstream(file, std::ios::binary) << mail;
    return DeliverFile(data_, file);
  }

  std::string folder_ =
      (fs::temp_directory_path() / ("moviletta-road-" + std::to_string(::getpid()))).string();
  std::string data_ = folder_ + "/data";
};

// A greeting reaches Bob and a copy its sender: each mail links to the watch page, which plays
// an MP4 of H.264 and AAC the length of the take with range requests; the first view and a
// reply reach the sender; the sender's delete link takes it away for everyone.
TEST_F(GreetingRoadTest, AGreetingReachesItsRecipientsAndItsWatchPage) {
  MakeGreetingFiles(folder_ + "/studio", 3);
  const std::string mail = StudioMail(
      folder_ + "/studio", "A greeting",
      MessageDocument("Ann", "ann@example.com", "Bob,555,bob@example.com", "Happy <b>day</b>"));
  ASSERT_FALSE(mail.empty());
  MailDrop relay;
  ASSERT_EQ(RunGreetings({"migrate", "--data", data_}).status, 0);
  GreetingsProcess service(data_, {"--relay", "smtp://" + relay.host()});
  ASSERT_GT(service.port, 0);
  ASSERT_EQ(Deliver(mail), 0);
  ASSERT_EQ(Deliver(mail), 0) << "handed over again after a lost answer";

  std::optional<std::string> to_bob, copy;
  for (int n = 1; n <= 2; ++n) {
    const std::optional<std::string> got = relay.WaitForMail(n, std::chrono::seconds(60));
    ASSERT_TRUE(got) << "mail " << n << " did not arrive";
    (MailDrop::Read(*got + ".envelope").find("bob@example.com") != std::string::npos ? to_bob
                                                                                     : copy) = got;
  }
  ASSERT_TRUE(to_bob && copy);
  const std::string bob = MailDrop::Read(*to_bob + ".eml");
  EXPECT_NE(bob.find("Subject: Ann sent you a video greeting"), std::string::npos) << bob;
  EXPECT_NE(bob.find("multipart/alternative"), std::string::npos);
  EXPECT_NE(bob.find("Content-Id: <poster@moviletta>"), std::string::npos) << bob.substr(0, 2000);
  std::smatch link;
  ASSERT_TRUE(std::regex_search(bob, link, std::regex("/watch/([0-9a-f]{48})")));
  const std::string watch = "/watch/" + link[1].str();
  const std::string sender_copy = MailDrop::Read(*copy + ".body");
  std::smatch removal;
  ASSERT_TRUE(std::regex_search(sender_copy, removal, std::regex("/watch/delete/[0-9a-f]{48}")));

  httplib::Client client("127.0.0.1", service.port);
  const auto page = client.Get(watch);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Happy &lt;b&gt;day&lt;/b&gt;"), std::string::npos) << page->body;
  EXPECT_NE(page->body.find("<video"), std::string::npos);
  const auto part = client.Get(watch + "/video.mp4", {{"Range", "bytes=0-99"}});
  ASSERT_TRUE(part);
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body.size(), 100u);
  const auto whole = client.Get(watch + "/video.mp4");
  ASSERT_TRUE(whole);
  std::ofstream(folder_ + "/watched.mp4", std::ios::binary) << whole->body;
  const MediaInfo info = Probe(folder_ + "/watched.mp4");
  EXPECT_EQ(info.video_codec, "h264");
  EXPECT_EQ(info.audio_codec, "aac");
  EXPECT_NEAR(info.video_seconds, 3.0, 1.0 / 15 + 0.01);
  EXPECT_LT(whole->body.find("moov"), whole->body.find("mdat")) << "the index comes first";

  // The first view tells the sender once; a reply reaches the sender.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(client.Post(watch + "/watched")->status, 204);
  const auto replied =
      client.Post(watch + "/reply", "text=Thank+you%21", "application/x-www-form-urlencoded");
  ASSERT_TRUE(replied);
  EXPECT_EQ(replied->status, 303);
  std::string told;
  for (int n = 3; n <= 4; ++n) {
    const std::optional<std::string> got = relay.WaitForMail(n, std::chrono::seconds(20));
    ASSERT_TRUE(got) << "mail " << n << " did not arrive";
    told += MailDrop::Read(*got + ".subject") + "|" + MailDrop::Read(*got + ".body");
  }
  EXPECT_NE(told.find("Your video greeting was watched"), std::string::npos) << told;
  EXPECT_NE(told.find("Thank you!"), std::string::npos) << told;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(relay.Count(), 4) << "one notice, however often the page tells";

  // The delete link asks first; then the greeting is gone for everyone.
  EXPECT_EQ(client.Get(removal.str())->status, 200);
  EXPECT_EQ(client.Post(removal.str())->status, 200);
  const auto gone = client.Get(watch);
  EXPECT_EQ(gone->status, 410);
  EXPECT_NE(gone->body.find("This greeting is no longer available."), std::string::npos);
  EXPECT_EQ(client.Get(watch + "/video.mp4")->status, 410);
  EXPECT_FALSE(fs::exists(data_ + "/media/" + link[1].str()));
}

}  // namespace
}  // namespace moviletta::testing
