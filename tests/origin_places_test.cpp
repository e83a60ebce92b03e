// SPDX-License-Identifier: GPL-3.0-or-later
// Where each origin's pages keep their world.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "host/studio/origin_places.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

TEST(OriginPlaces, EachOriginHasAFolderThatCanBeMadeWhateverItsLength) {
  const web::OriginPlaces places("/data", "http://own.example");
  EXPECT_EQ(places.Folder(""), "/data");
  const std::string site = places.Folder("https://greetings.example.org");
  EXPECT_TRUE(site.starts_with("/data/sites/https___greetings.example.org-")) << site;
  EXPECT_EQ(site.size(), std::string("/data/sites/https___greetings.example.org-").size() + 8);

  // An allowed origin of 267 characters, and another that differs only past the cut.
  const std::string stem = "https://" + std::string(250, 'a') + ".example";
  const fs::path one = places.Folder(stem + ".org"), other = places.Folder(stem + ".net");
  EXPECT_NE(one, other);
  EXPECT_LE(one.filename().string().size(), 255u);
  const fs::path root = fs::path(::testing::TempDir()) / ("places-" + std::to_string(getpid()));
  std::error_code ec;
  EXPECT_TRUE(fs::create_directories(root / one.filename(), ec)) << ec.message();
  fs::remove_all(root);
}

}  // namespace
}  // namespace moviletta::testing
