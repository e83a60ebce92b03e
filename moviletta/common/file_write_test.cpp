// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/common/file_write.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "moviletta/common/error.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/power_loss_file_system.h"
#include "tests/fixtures/scoped_umask.h"
#include "tests/fixtures/unprivileged.h"

namespace moviletta::testing {
namespace {

namespace fs = std::filesystem;

class FileWriteTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder_); }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all);
    fs::remove_all(folder_);
  }
  // In a process of its own: a folder whose names cannot be read (mode 0300) takes a new file
  // and its rename, but cannot be synced to the disk afterwards.
  [[noreturn]] void WriteIntoAnUnsyncableFolder() {
    const std::string file = (folder_ / "entry.json").string();
    GiveToTheUnprivilegedUser(folder_.string());
    BecomeUnprivileged();
    WriteFileWhole(file, "former", "test");
    fs::permissions(folder_, fs::perms::owner_write | fs::perms::owner_exec);
    try {
      WriteFileWhole(file, "new", "test", /*sync_to_disk=*/true);
      ADD_FAILURE() << "an unsynced folder was not told";
    } catch (const Error& e) {
      EXPECT_NE(e.description().find("is written"), std::string::npos) << e.description();
      EXPECT_NE(e.os_error(), 0);
    }
    fs::permissions(folder_, fs::perms::owner_all);
    EXPECT_EQ(ReadFile(file), "new") << "the rename was done";
    std::exit(HasFailure() ? 1 : 0);
  }

  fs::path folder_ = fs::temp_directory_path() / ("moviletta-write-" + std::to_string(getpid()));
};

// Once the new file has taken the old one's name, the write has happened: a folder that then
// cannot be synced is told as that, never as a write that left the former file.
TEST_F(FileWriteTest, AFolderSyncThatFailsAfterTheRenameSaysTheFileIsWritten) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WriteIntoAnUnsyncableFolder(), ::testing::ExitedWithCode(0), "");
}

// A power loss at any point of a synced write leaves the former content or the new one, never an
// empty or missing file; once the write has returned, the new one.
TEST_F(FileWriteTest, APowerLossAtAnyPointLeavesTheFormerFileOrTheNewOne) {
  const std::string file = (folder_ / "allowed-sites.json").string();
  for (int calls = 0;; ++calls) {
    WriteFileWhole(file, "former", "test", /*sync_to_disk=*/true);
    PowerLossFileSystem disk(folder_ / "attic");
    disk.FailAfter(calls);
    bool written = false;
    try {
      WriteFileWhole(file, "new", "test", /*sync_to_disk=*/true, false, disk);
      written = true;
    } catch (const Error&) {
    }
    disk.PowerLoss();
    const std::string left = ReadFile(file);
    EXPECT_TRUE(left == "former" || left == "new") << "after " << calls << " calls: " << left;
    if (written) {
      EXPECT_EQ(left, "new") << "written, said the write after " << calls << " calls";
      break;
    }
  }
}

// An own folder is its owner's alone whatever the umask, also when its name ends with a "/"; a
// file of its name is refused; a file made for a library to write is its owner's alone too.
TEST_F(FileWriteTest, OwnFoldersAndFilesAreTheOwnersAlone) {
  const testing::ScopedUmask usual(022);
  const fs::path taken = folder_ / "sites";
  WriteFile(taken.string(), "a file");
  EXPECT_THROW(MakeOwnFolder(taken, "test"), Error);
  MakeOwnFolder(folder_ / "own", "test");
  MakeOwnFolder((folder_ / "sends" / "1").string() + "/", "test");
  for (const fs::path& made : {folder_ / "own", folder_ / "sends" / "1"})
    EXPECT_EQ(testing::PermissionsOf(made), fs::perms::owner_all) << made;

  const std::string recording = (folder_ / "take.avi").string();
  WriteFile(recording, "an earlier take");
  fs::permissions(recording, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  CreateOwnFile(recording, "test");
  EXPECT_EQ(testing::PermissionsOf(recording), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::file_size(recording), 0u) << "emptied";
  EXPECT_THROW(CreateOwnFile((folder_ / "missing" / "take.avi").string(), "test"), Error);
}

// A second name where the file system allows one, a copy where it does not (the shared memory
// folder is another file system), and the error of a file that is not there.
TEST_F(FileWriteTest, LinkOrCopyLinksWithinAFileSystemAndCopiesAcrossOnes) {
  const fs::path from = folder_ / "greeting.mpg";
  WriteFileWhole(from.string(), "pictures", "test");
  ASSERT_EQ(LinkOrCopy(from, folder_ / "linked.mpg"), 0);
  EXPECT_EQ(fs::hard_link_count(from), 2u);
  const fs::path shared = "/dev/shm/moviletta-copy-" + std::to_string(getpid());
  if (fs::is_directory("/dev/shm")) {
    ASSERT_EQ(LinkOrCopy(from, shared), 0);
    EXPECT_EQ(ReadFile(shared.string()), "pictures");
    fs::remove(shared);
  }
  EXPECT_EQ(LinkOrCopy(folder_ / "none.mpg", folder_ / "other.mpg"), ENOENT);
  EXPECT_FALSE(fs::exists(folder_ / "other.mpg"));
}

}  // namespace
}  // namespace moviletta::testing
