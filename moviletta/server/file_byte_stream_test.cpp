// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "moviletta/common/error.h"
#include "moviletta/server/byte_stream.h"
#include "tests/fixtures/gif_files.h"

namespace moviletta {
namespace {

using testing::ReadFile;

namespace fs = std::filesystem;

class FileByteStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("moviletta-stream-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(FileByteStreamTest, SavesExactlyTheBytesWrittenAndReplacesAnOldFile) {
  const std::string target = (folder_ / "1.gif").string();
  const std::string binary("GIF89a\0\r\n\xff", 10);
  auto first = FileByteStreamFactory().Create();
  first->Write("old contents that are longer");
  first->SaveToFile(target);

  auto second = FileByteStreamFactory().Create();
  second->Write(binary.substr(0, 4));
  second->Write(binary.substr(4));
  second->SaveToFile(target);
  EXPECT_EQ(ReadFile(target), binary);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
      << "no temporary file stays behind";
}

TEST_F(FileByteStreamTest, AMissingFolderOrAnUnwritableTargetFails) {
  auto stream = FileByteStreamFactory().Create();
  stream->Write("x");
  try {
    stream->SaveToFile((folder_ / "missing" / "1.gif").string());
    FAIL() << "saved into a missing folder";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kPathNotFound);
  }
  fs::create_directory(folder_ / "taken");
  try {
    stream->SaveToFile((folder_ / "taken").string());
    FAIL() << "replaced a folder with a file";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kPathFileAccess);
  }
  EXPECT_TRUE(fs::is_directory(folder_ / "taken"));
}

}  // namespace
}  // namespace moviletta
