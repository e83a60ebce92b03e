// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/skin_cache.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "moviletta/server/curl_http_client.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class SkinCacheTest : public ::testing::Test {
 protected:
  void Touch(const std::string& path) { WriteFile(path, "GIF89a"); }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
  Identity identity{[] { return std::optional<uint32_t>(7); }};
  std::unique_ptr<HttpClientFactory> http = std::make_unique<CurlHttpClientFactory>();
  GreetingServer greeting{server.address(), *http, identity};
  ErrorReporter reporter{greeting};
  SkinCache cache{harness.app_directory, reporter};
  const std::string app = harness.app_directory;
};

TEST_F(SkinCacheTest, NamesFoldersAndFilesBelowTheApplicationFolder) {
  EXPECT_EQ(cache.GetOutputDirectory(), app + "/");
  EXPECT_EQ(cache.GetSkinsDirectory(), app + "/SKINS/");
  EXPECT_EQ(cache.GetStaticsDirectory(), app + "/STATICS/");
  EXPECT_EQ(cache.GenerateSkinPath(5), app + "/SKINS/ml_skin_5/");
  EXPECT_EQ(cache.GenerateStaticPath(5), app + "/STATICS/ml_static_5.gif");
  EXPECT_EQ(cache.GenerateSkinPath(-1), app + "/SKINS/ml_skin_-1/");
  EXPECT_EQ(cache.GenerateStaticPath(100000), app + "/STATICS/ml_static_100000.gif");
}

TEST_F(SkinCacheTest, TellsWhatItHoldsWithTheStaticFileWinning) {
  EXPECT_EQ(cache.GetLocalSkinType(5), "NONE");
  EXPECT_EQ(cache.GetLocalSkinType(-1), "NONE");

  fs::create_directory(app + "/SKINS/ml_skin_5");
  Touch(app + "/SKINS/ml_skin_5/2.gif");
  EXPECT_EQ(cache.GetLocalSkinType(5), "NONE") << "only frame 1 is looked for";
  Touch(app + "/SKINS/ml_skin_5/1.gif");
  EXPECT_EQ(cache.GetLocalSkinType(5), "SKIN");
  Touch(app + "/STATICS/ml_static_5.gif");
  EXPECT_EQ(cache.GetLocalSkinType(5), "STATIC");

  fs::create_directory(app + "/STATICS/ml_static_6.gif");
  EXPECT_EQ(cache.GetLocalSkinType(6), "NONE") << "a folder is not a file";
  fs::create_directory(app + "/SKINS/ml_skin_-1");
  Touch(app + "/SKINS/ml_skin_-1/1.gif");
  EXPECT_EQ(cache.GetLocalSkinType(-1), "SKIN");
  EXPECT_TRUE(server.RequestsTo("/clientErrLog.asp").empty());
}

TEST_F(SkinCacheTest, CountsVisibleFilesOnly) {
  const std::string folder = app + "/SKINS/ml_skin_9/";
  EXPECT_EQ(cache.NumberOfFiles(folder), 0) << "a missing folder";
  fs::create_directory(folder);
  for (const char* name : {"1.gif", "2.gif", "3.gif", "notes.txt", ".hidden", ".1.gif.part"})
    Touch(folder + name);
  fs::create_directory(folder + "sub");
  EXPECT_EQ(cache.NumberOfFiles(folder), 4) << "a stray file counts as a frame";
  EXPECT_FALSE(SkinCache::IsPresent(folder + ".hidden"));
  EXPECT_TRUE(SkinCache::IsPresent(folder + "notes.txt"));

  fs::remove_all(app + "/SKINS");
  EXPECT_EQ(cache.GetLocalSkinType(9), "NONE") << "without the SKINS folder";
}

}  // namespace
}  // namespace moviletta::testing
