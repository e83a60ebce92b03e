// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/skin_download.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::StartsWith;

class SkinDownloadTest : public ::testing::Test {
 protected:
  SkinDownloadTest() {
    server.SetSettings(SettingsDocument(server.address()));
    EXPECT_EQ(harness.Start(), std::nullopt);
    server.ClearRequests();
    for (int i = 1; i <= 3; ++i) {
      frames.push_back(SolidGif(4, 3, {static_cast<uint8_t>(i), 0, 0}));
      server.ServeSkinFile("frames/42/" + std::to_string(i) + ".gif", {200, frames.back()});
    }
  }

  SkinDownloader& downloads() { return harness.insides().downloads(); }
  SkinCache& cache() { return harness.insides().skins(); }
  std::vector<RecordedRequest> Reports() const { return server.RequestsTo("/clientErrLog.asp"); }
  std::vector<std::string> SkinFolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(harness.app_directory + "/SKINS"))
      names.push_back(entry.path().filename().string());
    return names;
  }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
  std::vector<std::string> frames;
};

TEST_F(SkinDownloadTest, FetchesEveryFrameInOrderOverOneConnection) {
  server.SetSkinAnswer(42, "SKIN,frames/42/,3,extra");
  const std::string folder = downloads().DownloadSkin(42);
  EXPECT_EQ(folder, cache().GenerateSkinPath(42));
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(ReadFile(folder + std::to_string(i) + ".gif"), frames[i - 1]);
  EXPECT_EQ(cache().NumberOfFiles(folder), 3);
  EXPECT_THAT(SkinFolderEntries(), ElementsAre("ml_skin_42"));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].path, "/skinType.asp");
  EXPECT_EQ(requests[0].QueryKeys(), (std::vector<std::string>{"sPassword", "lSkinID", "sRnd"}));
  EXPECT_EQ(requests[0].Query("lSkinID"), "42");
  EXPECT_EQ(requests[0].headers.find("Content-type")->second, "text");
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(requests[i].target, "/skins/frames/42/" + std::to_string(i) + ".gif");
    EXPECT_FALSE(requests[i].HasHeader("Content-type"));
    EXPECT_EQ(requests[i].remote_port, requests[1].remote_port) << "one connection for all";
  }
  EXPECT_TRUE(Reports().empty());
}

TEST_F(SkinDownloadTest, FetchesAStaticPictureAndNegativeIdsKeepTheirSign) {
  server.SetSkinAnswer(-5, "STATIC,pics/7.gif");
  server.ServeSkinFile("pics/7.gif", {200, frames[0]});
  const std::string path = downloads().DownloadSkin(-5);
  EXPECT_EQ(path, harness.app_directory + "/STATICS/ml_static_-5.gif");
  EXPECT_EQ(ReadFile(path), frames[0]);
  EXPECT_EQ(server.RequestsTo("/skinType.asp").at(0).Query("lSkinID"), "-5");
  EXPECT_EQ(cache().GetLocalSkinType(-5), "STATIC");
}

TEST_F(SkinDownloadTest, AnswersThatFetchNothing) {
  for (const char* answer : {"NONE", "skin,frames/42/,3", "SKIN ,frames/42/,3", "GIF,x,1"}) {
    server.SetSkinAnswer(42, answer);
    EXPECT_EQ(downloads().DownloadSkin(42), "") << answer;
  }
  EXPECT_TRUE(server.RequestsTo("/skins/frames/42/1.gif").empty());
  EXPECT_TRUE(SkinFolderEntries().empty());
  EXPECT_TRUE(Reports().empty()) << "an unknown kind is not a failure";

  server.SetSkinAnswer(42, "SKIN,frames/42/,0");
  EXPECT_EQ(downloads().DownloadSkin(42), cache().GenerateSkinPath(42));
  EXPECT_TRUE(fs::is_empty(cache().GenerateSkinPath(42)));
  EXPECT_EQ(cache().GetLocalSkinType(42), "NONE");
}

TEST_F(SkinDownloadTest, AFailedDownloadLeavesTheCacheAsItWasAndALaterOneSucceeds) {
  struct Case {
    const char* what;
    std::string answer;
    CannedAnswer frame2;
    std::string section;
    int32_t error;
  };
  const std::string frame2_url = server.address() + "/skins/frames/42/2.gif";
  const Case cases[] = {
      {"no count",
       "SKIN,frames/42/",
       {200, frames[1]},
       "SKIN_TYPE_SKIN",
       err::kSubscriptOutOfRange},
      {"count not a number", "SKIN,frames/42/,3x", {200, frames[1]}, "SKIN_TYPE_SKIN", 13},
      {"negative count", "SKIN,frames/42/,-3", {200, frames[1]}, "SKIN_TYPE_SKIN", 5},
      {"absurd count", "SKIN,frames/42/,10001", {200, frames[1]}, "SKIN_TYPE_SKIN", 5},
      {"frame 2 missing",
       "SKIN,frames/42/,3",
       {404, "no"},
       "sFrameURL: " + frame2_url,
       err::kHttpStatus},
      {"frame 2 server error",
       "SKIN,frames/42/,3",
       {500, "GIF89a"},
       "sFrameURL: " + frame2_url,
       err::kHttpStatus},
      {"frame 2 an error page",
       "SKIN,frames/42/,3",
       {200, "<html>oops</html>"},
       "sFrameURL: " + frame2_url,
       err::kInvalidPicture},
      {"frame 2 dropped",
       "SKIN,frames/42/,3",
       {200, "", true},
       "sFrameURL: " + frame2_url,
       err::kHttpRequestFailed},
      {"no static path", "STATIC", {}, "SKIN_TYPE_STATIC", err::kSubscriptOutOfRange},
      {"static missing",
       "STATIC,pics/none.gif",
       {},
       "sStaticURL: " + server.address() + "/skins/pics/none.gif",
       err::kHttpStatus},
  };
  for (const Case& c : cases) {
    server.ClearRequests();
    server.SetSkinAnswer(42, c.answer);
    server.ServeSkinFile("frames/42/2.gif", c.frame2);
    EXPECT_EQ(downloads().DownloadSkin(42), "") << c.what;
    EXPECT_EQ(cache().GetLocalSkinType(42), "NONE") << c.what;
    EXPECT_TRUE(SkinFolderEntries().empty()) << c.what << ": nothing half-written stays";
    ASSERT_EQ(Reports().size(), 1u) << c.what;
    EXPECT_EQ(Reports()[0].Query("sErrInFunction"), "DownloadSkin") << c.what;
    EXPECT_EQ(Reports()[0].Query("sErrInSection"), c.section) << c.what;
    EXPECT_EQ(Reports()[0].Query("sErrCode"), std::to_string(c.error)) << c.what;
  }

  server.SetSkinAnswer(42, "SKIN,frames/42/,3");
  server.ServeSkinFile("frames/42/2.gif", {200, frames[1]});
  EXPECT_EQ(downloads().DownloadSkin(42), cache().GenerateSkinPath(42));
  EXPECT_EQ(cache().NumberOfFiles(cache().GenerateSkinPath(42)), 3);
}

TEST_F(SkinDownloadTest, LeftoversOfAnInterruptedRunDoNotBlockANewDownload) {
  fs::create_directory(harness.app_directory + "/SKINS/ml_skin_42");
  fs::create_directory(harness.app_directory + "/SKINS/.ml_skin_42.download");
  WriteFile(harness.app_directory + "/SKINS/.ml_skin_42.download/1.gif", "half");
  server.SetSkinAnswer(42, "SKIN,frames/42/,3");
  EXPECT_EQ(downloads().DownloadSkin(42), cache().GenerateSkinPath(42));
  EXPECT_THAT(SkinFolderEntries(), ElementsAre("ml_skin_42"));
  EXPECT_EQ(ReadFile(cache().GenerateSkinPath(42) + "1.gif"), frames[0]);
}

TEST_F(SkinDownloadTest, AFailedQueryIsReportedTwiceAndAMissingSkinsFolderFails) {
  EXPECT_EQ(downloads().DownloadSkin(77), "") << "the server knows no skin 77: HTTP 404";
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].Query("sErrInFunction"), "GetRemoteSkinType");
  EXPECT_THAT(reports[0].Query("sErrInSection"), StartsWith(" send. xmlHTTP.responseText: "));
  EXPECT_EQ(reports[1].Query("sErrInFunction"), "DownloadSkin");
  EXPECT_EQ(reports[1].Query("sErrInSection"), "");

  server.ClearRequests();
  fs::remove_all(harness.app_directory + "/SKINS");
  server.SetSkinAnswer(42, "SKIN,frames/42/,3");
  EXPECT_EQ(downloads().DownloadSkin(42), "");
  EXPECT_EQ(Reports().at(0).Query("sErrInSection"), "SKIN_TYPE_SKIN");
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), std::to_string(err::kPathNotFound));
}

}  // namespace
}  // namespace moviletta::testing
