// SPDX-License-Identifier: GPL-3.0-or-later
// Skin selection and the preview, with the fake capture device and a real greeting server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "moviletta/common/constants.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class LoadSkinTest : public ::testing::Test {
 protected:
  void Start(std::map<std::string, std::string> settings = {{"ANIMPREVIEW", "0"}}) {
    server.SetSettings(SettingsDocument(server.address(), settings));
    ASSERT_EQ(harness.Start(), std::nullopt);
    harness.events.clear();
    server.ClearRequests();
  }
  // Frame i of a cached animated skin is a 4 x 3 picture whose red value is i.
  void CacheAnimated(int32_t id, int frames) {
    const std::string folder = harness.app_directory + "/SKINS/ml_skin_" + std::to_string(id) + "/";
    fs::create_directories(folder);
    for (int i = 1; i <= frames; ++i)
      WriteFile(folder + std::to_string(i) + ".gif", SolidGif(4, 3, {uint8_t(i), 0, 0}));
  }
  void CacheStatic(int32_t id, uint8_t red) {
    WriteFile(harness.app_directory + "/STATICS/ml_static_" + std::to_string(id) + ".gif",
              SolidGif(4, 3, {red, 0, 0}));
  }
  // The red value of each overlaid picture; -1 for a removal.
  std::vector<int> OverlaidReds() const {
    std::vector<int> reds;
    for (const BitmapHandle& b : harness.capture->overlaid) reds.push_back(b ? b->rgba[0] : -1);
    return reds;
  }
  std::string StoredSkinPath() {
    harness.host.user_mode = false;
    const std::string path = harness.control().SkinPath();
    harness.host.user_mode = true;
    return path;
  }
  std::vector<RecordedRequest> Reports() const { return server.RequestsTo("/clientErrLog.asp"); }

  GreetingServerFixture server;
  ControlHarness harness{server.address()};
};

TEST_F(LoadSkinTest, NoSkinRemovesTheOverlay) {
  Start();
  harness.control().LoadSkin(kNoSkin);
  EXPECT_EQ(OverlaidReds(), std::vector<int>{-1});
  EXPECT_THAT(harness.events, ElementsAre(SeenEvent{ControlEvent::ErrMsgChanged, 1, ""},
                                          SeenEvent{ControlEvent::StatusChanged, 2, ""},
                                          SeenEvent{ControlEvent::StatusChanged, 1, ""}));
  EXPECT_EQ(StoredSkinPath(), "");
  EXPECT_EQ(harness.insides().GetSkinType(), "NO_SKIN");
  EXPECT_THAT(harness.host.changed_properties, ElementsAre("SkinPath"));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(LoadSkinTest, CachedSkinsShowWithoutAnyRequest) {
  Start();
  CacheStatic(7, 70);
  harness.control().LoadSkin(7);
  EXPECT_EQ(OverlaidReds(), std::vector<int>{70});
  EXPECT_EQ(harness.capture->calls.back(), "OverlayBitmap(0,0,16711935)") << "TRANSCOLOR";
  EXPECT_EQ(harness.insides().GetSkinType(), "STATIC");

  CacheAnimated(8, 3);
  harness.control().LoadSkin(8);
  EXPECT_EQ(OverlaidReds(), (std::vector<int>{70, 1})) << "frame 1 shows, no preview";
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(harness.insides().img().Picture(i)->rgba[0], i);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_EQ(harness.insides().GetSkinType(), "ANIMATION");
  EXPECT_EQ(StoredSkinPath(), harness.app_directory + "/SKINS/ml_skin_8/");
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(LoadSkinTest, SlotsAreCreatedOnceAndReused) {
  Start();
  CacheAnimated(10, 10), CacheAnimated(4, 4), CacheAnimated(12, 12);
  for (int32_t id : {10, 4, 12}) harness.control().LoadSkin(id);
  EXPECT_EQ(harness.insides().img().Count(), 13);
  EXPECT_EQ(harness.insides().img().Picture(12)->rgba[0], 12);
  EXPECT_EQ(harness.insides().img().Picture(4)->rgba[0], 4);
  EXPECT_TRUE(Reports().empty()) << "a slot created twice would have failed the load";
}

TEST_F(LoadSkinTest, ThePreviewCyclesTheFramesUntilALaterLoadStopsIt) {
  Start({{"ANIMPREVIEW", "1"}, {"FPS", "100"}});
  CacheAnimated(42, 3);
  harness.WhenReady([&] { return harness.capture->overlaid.size() >= 8; },
                    [&] {
                      harness.control().LoadSkin(kNoSkin);  // refused: the preview holds status 2
                      harness.control().StopVideo();
                      harness.control().LoadSkin(kNoSkin);
                    });
  harness.control().LoadSkin(42);
  EXPECT_EQ(OverlaidReds(), (std::vector<int>{1, 1, 2, 3, 1, 2, 3, 1, -1}));
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);
  EXPECT_EQ(harness.events.at(2),
            (SeenEvent{ControlEvent::ErrMsgChanged, 2, "Can't Load skin while in status: 2"}));
}

TEST_F(LoadSkinTest, AMissingSkinShowsThePlaceholderThenDownloads) {
  Start();
  CacheStatic(kPlaceholderSkin, 99);
  server.SetSkinAnswer(5, "NONE");
  harness.control().LoadSkin(5);
  EXPECT_EQ(OverlaidReds(), (std::vector<int>{99, -1}));
  EXPECT_EQ(server.RequestsTo("/skinType.asp").size(), 1u);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_STOPPED);

  fs::remove(harness.app_directory + "/STATICS/ml_static_100000.gif");
  server.SetSkinAnswer(kPlaceholderSkin, "SKIN,frames/p/,2");
  server.ServeSkinFile("frames/p/1.gif", {200, SolidGif(4, 3, {50, 0, 0})});
  server.ServeSkinFile("frames/p/2.gif", {200, SolidGif(4, 3, {51, 0, 0})});
  server.SetSkinAnswer(6, "STATIC,s6.gif");
  server.ServeSkinFile("s6.gif", {200, SolidGif(4, 3, {60, 0, 0})});
  server.ClearRequests();
  harness.control().LoadSkin(6);
  const auto queries = server.RequestsTo("/skinType.asp");
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[0].Query("lSkinID"), "100000");
  EXPECT_EQ(queries[1].Query("lSkinID"), "6");
  EXPECT_EQ(OverlaidReds(), (std::vector<int>{99, -1, 50, 60}));
  EXPECT_EQ(harness.insides().GetSkinType(), "STATIC");

  // With the animated placeholder now cached and a preview on, it stands still meanwhile.
  server.SetSettings(SettingsDocument(server.address(), {{"ANIMPREVIEW", "1"}}));
  harness.control().LoadClientSettings();
  server.SetSkinAnswer(9, "NONE");
  server.ClearRequests();
  harness.control().LoadSkin(9);
  EXPECT_EQ(OverlaidReds().back(), -1);
  EXPECT_EQ(server.RequestsTo("/skinType.asp").size(), 1u);
  EXPECT_TRUE(Reports().empty());
}

TEST_F(LoadSkinTest, FailuresStayInLoadSkinWithStatusTwo) {
  Start({{"FPS", "<omit>"}, {"ANIMPREVIEW", "0"}});  // a failed load leaves FPS 0
  CacheStatic(7, 70);
  harness.control().LoadSkin(7);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_LOADING_SKIN);
  EXPECT_EQ(StoredSkinPath(), harness.app_directory + "/STATICS/ml_static_7.gif");
  EXPECT_TRUE(harness.capture->overlaid.empty());
  EXPECT_EQ(Reports().at(0).Query("sErrInFunction"), "LoadSkin");
  EXPECT_EQ(Reports().at(0).Query("sErrInSection"), "");
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), "11");
  harness.control().LoadSkin(7);
  EXPECT_EQ(harness.control().ErrMsg(), "Can't Load skin while in status: 2");
}

TEST_F(LoadSkinTest, AStrayFileInASkinFolderFailsTheLoad) {
  Start();
  CacheAnimated(3, 2);
  WriteFile(harness.app_directory + "/SKINS/ml_skin_3/readme.txt", "stray");
  harness.control().LoadSkin(3);
  EXPECT_EQ(harness.control().ClientStatus(), STATUS_LOADING_SKIN);
  EXPECT_EQ(Reports().at(0).Query("sErrCode"), std::to_string(err::kFileNotFound)) << "3.gif";
}

}  // namespace
}  // namespace moviletta::testing
