// SPDX-License-Identifier: GPL-3.0-or-later
// The studio's protocol as the studio's own readers take it: the settings, reports, announcements
// and skins of the service reach the library exactly, and whatever a visitor sends is kept
// bounded and as text.
#include <gtest/gtest.h>

#include <filesystem>

#include "moviletta/common/constants.h"
#include "moviletta/common/error.h"
#include "moviletta/reporting/error_reporter.h"
#include "moviletta/server/client_settings.h"
#include "moviletta/server/curl_http_client.h"
#include "moviletta/server/greeting_server.h"
#include "moviletta/server/registration.h"
#include "moviletta/skins/skin_download.h"
#include "moviletta/xml/xml_document.h"
#include "service/web/field_text.h"
#include "service/web/service_fixture_test.h"
#include "tests/fixtures/gif_files.h"

namespace moviletta::service {
namespace {

namespace fs = std::filesystem;

class ProtocolTest : public ServiceTest {
 protected:
  CurlHttpClientFactory http_;
  Identity identity_{[]() -> std::optional<uint32_t> { return 0x1234ABCD; }};
  GreetingServer server_{address(), http_, identity_};
  ErrorReporter reporter_{server_};
};

TEST_P(ProtocolTest, TheStudioReadsTheSitesSettingsAndItsOwnAddresses) {
  store_.SetSettings(site_, {{"FPS", "25"}, {"SECLIMIT", "90"}, {"SMTPPWD", "a&b<c>"}});
  PugiXmlDocumentFactory xml;
  ClientSettings settings;
  std::string section;
  EXPECT_EQ(FetchClientSettings(server_, xml, settings, section), "") << "nothing refused";
  EXPECT_EQ(settings.FPS, 25);
  EXPECT_EQ(settings.SECLIMIT, 90);
  EXPECT_EQ(settings.SMTPPWD, "a&b<c>") << "escaped in the document, read back whole";
  EXPECT_EQ(settings.SENDTO, "greetings@127.0.0.1");
  EXPECT_EQ(settings.SKIN, address() + "/skinType.asp");
  EXPECT_EQ(settings.DOWNLOAD, address() + "/skins/");

  // Its announcement is kept with its version, once a minute at most beyond the limit.
  std::string said;
  EXPECT_EQ(AnnounceInstallation(server_, settings, said), "OK");
  const std::vector<Registration> registered = store_.Registrations(site_);
  ASSERT_EQ(registered.size(), 1u);
  EXPECT_EQ(registered[0].installation, identity_.ComputeInstallationID());
  EXPECT_EQ(registered[0].version, "1.6");
}

TEST_P(ProtocolTest, ReportsAreKeptWithEveryFieldBoundedAndAsText) {
  reporter_.ReportError("LoadSkin", "set URL: http://x/?a=1&b=2\r\nnext", "-2147221504",
                        "<script>alert(1)</script>", "Moviletta", "0");
  const std::vector<ErrorReport> kept = store_.Reports(site_, {});
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].function, "LoadSkin");
  EXPECT_EQ(kept[0].section, "set URL: http://x/?a=1&b=2\r\nnext") << "its own ? & = and breaks";
  EXPECT_EQ(kept[0].code, "-2147221504");
  EXPECT_EQ(kept[0].description, "<script>alert(1)</script>") << "kept as sent; shown escaped";
  EXPECT_EQ(kept[0].installation, identity_.ComputeInstallationID());
  EXPECT_EQ(kept[0].at, now_);
  EXPECT_NE(kept[0].query.find("sRnd="), std::string::npos) << "every query field is kept";

  // Bytes that are not UTF-8 and an endless field, sent by hand.
  httplib::Client client("127.0.0.1", port_);
  const std::string endless(6000, 'x');  // within a request line's 8 KiB
  ASSERT_TRUE(client.Get("/clientErrLog.asp?sPassword=" + std::string(kServerPassword) +
                         "&sInstallationID=raw&sErrDesc=%ff%fe%41&sErrInSection=" + endless));
  const std::vector<ErrorReport> raw = store_.Reports(site_, {"raw", "", "", 10});
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_EQ(raw[0].description, "\\xFF\\xFEA");
  EXPECT_LE(raw[0].section.size(), kMaxFieldBytes + 3);
  EXPECT_EQ(raw[0].section.substr(0, 10), "xxxxxxxxxx");

  // Over the limit (3 a minute here): answered as always, counted, not kept.
  for (int i = 0; i < 4; ++i) reporter_.ReportError("Wait", "", "5", "d", "s", "0");
  EXPECT_EQ(store_.Reports(site_, {identity_.ComputeInstallationID(), "", "", 100}).size(), 3u);
  EXPECT_EQ(store_.Refused(site_), 2);
}

TEST_P(ProtocolTest, TheStudioDownloadsTheSitesSkins) {
  const std::string frame1 = testing::SolidGif(4, 3, {255, 0, 255}),
                    frame2 = testing::SolidGif(4, 3, {0, 0, 255}),
                    still = testing::SolidGif(2, 2, {0, 255, 0});
  store_.PutSkin(site_, {42, "Star", "SKIN"}, {frame1, frame2});
  store_.PutSkin(site_, {-7, "Frame", "STATIC"}, {still});
  PugiXmlDocumentFactory xml;
  ClientSettings settings;
  std::string section;
  FetchClientSettings(server_, xml, settings, section);
  const std::string app = (fs::path(::testing::TempDir()) / ("skins-" + host_)).string();
  fs::create_directories(app + "/SKINS");
  fs::create_directories(app + "/STATICS");
  SkinCache cache(app, reporter_);
  FileByteStreamFactory streams;
  SkinDownloader downloader(server_, streams, settings, cache, reporter_);

  EXPECT_EQ(downloader.GetRemoteSkinType(42), "SKIN,42/,2");
  EXPECT_EQ(downloader.GetRemoteSkinType(-7), "STATIC,-7.gif");
  EXPECT_EQ(downloader.GetRemoteSkinType(5), "NONE");
  const std::string folder = downloader.DownloadSkin(42);
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(testing::ReadFile(folder + "1.gif"), frame1);
  EXPECT_EQ(testing::ReadFile(folder + "2.gif"), frame2);
  EXPECT_EQ(testing::ReadFile(downloader.DownloadSkin(-7)), still);
  EXPECT_TRUE(store_.Reports(site_, {}).empty()) << "nothing failed on the way";

  // The catalogue the studio's page shows: each skin, its first picture, never the placeholder.
  store_.PutSkin(site_, {kPlaceholderSkin, "Wait", "STATIC"}, {still});
  httplib::Client client("127.0.0.1", port_);
  const auto catalogue = client.Get("/skinCatalogue.asp");
  ASSERT_TRUE(catalogue);
  EXPECT_EQ(catalogue->body,
            "42,Star," + address() + "/skins/42/1.gif\n-7,Frame," + address() + "/skins/-7.gif\n");
  EXPECT_EQ(client.Get("/skins/42/3.gif")->status, 404);
  EXPECT_EQ(client.Get("/skins/42.gif")->status, 404) << "an animated skin has no static picture";
  fs::remove_all(app);
}

TEST_P(ProtocolTest, AWrongPasswordOrAnUnknownSiteIsRefused) {
  store_.PutSkin(site_, {42, "Star", "SKIN"}, {testing::SolidGif(1, 1, {0, 0, 0})});
  httplib::Client client("127.0.0.1", port_);
  const auto settings = client.Get("/clientSettings.asp?sPassword=guess&sInstallationID=x");
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->status, 403);
  EXPECT_EQ(settings->body, "") << "no document: the studio reads no settings";
  const auto skin = client.Get("/skinType.asp?sPassword=guess&lSkinID=42");
  EXPECT_EQ(skin->status, 403);
  EXPECT_EQ(skin->body, "NONE");
  EXPECT_EQ(client.Get("/clientErrLog.asp?sErrDesc=x")->status, 403);
  EXPECT_EQ(client.Get("/register.asp?sPassword=&sInstallationID=y")->status, 403);
  EXPECT_TRUE(store_.Reports(site_, {}).empty());
  EXPECT_TRUE(store_.Registrations(site_).empty());

  const auto other = client.Get("/clientSettings.asp?sPassword=" + std::string(kServerPassword),
                                {{"Host", "other.example"}});
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 404);
  EXPECT_EQ(other->body.find("SMTPPWD"), std::string::npos);
}

// Two sites on one service: each request is answered from its own site's store.
TEST_P(ProtocolTest, EachSiteIsAnsweredFromItsOwn) {
  const int64_t other = store_.AddSite("greetings.example");
  store_.SetSettings(other, DefaultSettings("greetings.example"));
  store_.SetSettings(other, {{"SMTPPWD", "others"}, {"FPS", "30"}});
  store_.PutSkin(other, {1, "Theirs", "STATIC"}, {testing::SolidGif(1, 1, {0, 0, 0})});
  httplib::Client client("127.0.0.1", port_);
  const std::string query = "?sPassword=" + std::string(kServerPassword);
  const auto theirs = client.Get("/clientSettings.asp" + query, {{"Host", "greetings.example"}});
  const auto ours = client.Get("/clientSettings.asp" + query);
  EXPECT_NE(theirs->body.find("<SMTPPWD>others</SMTPPWD>"), std::string::npos);
  EXPECT_NE(theirs->body.find("<SKIN>http://greetings.example/skinType.asp</SKIN>"),
            std::string::npos);
  EXPECT_EQ(ours->body.find("others"), std::string::npos);
  EXPECT_EQ(client.Get("/skinType.asp" + query + "&lSkinID=1")->body, "NONE");
  EXPECT_EQ(
      client.Get("/skinType.asp" + query + "&lSkinID=1", {{"Host", "greetings.example"}})->body,
      "STATIC,1.gif");
  // Behind a TLS proxy the document names https addresses.
  const auto proxied = client.Get("/clientSettings.asp" + query,
                                  {{"Host", "greetings.example"}, {"X-Forwarded-Proto", "https"}});
  EXPECT_NE(proxied->body.find("<DOWNLOAD>https://greetings.example/skins/</DOWNLOAD>"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, ProtocolTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& engine) { return engine.param; });

}  // namespace
}  // namespace moviletta::service
