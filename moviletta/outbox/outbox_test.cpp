// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/outbox/outbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "moviletta/common/error.h"
#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/power_loss_file_system.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class OutboxTest : public ::testing::Test {
 protected:
  OutboxTest() {
    fs::create_directories(sends_);
    Write(sends_ / "Moviletta.mpg", std::string(5000, 'v'));
    Write(sends_ / "Moviletta.jpg", "snapshot");
  }
  ~OutboxTest() override { fs::remove_all(root_); }

  OutboxMail Mail(const std::string& label = "MovilettaStudio") const {
    return {label,
            "Bob,555,b@x",
            "<doc/>",
            {"127.0.0.1:25", "studio@x", "secret", "drop@x"},
            {(sends_ / "Moviletta.mpg").string(), (sends_ / "Moviletta.jpg").string()},
            "Happy birthday"};
  }
  std::string folder() const { return (root_ / "OUTBOX").string(); }

  fs::path root_ = fs::temp_directory_path() / ("outbox-test-" + std::to_string(getpid()));
  fs::path sends_ = root_ / ".sends" / "1";
};

// A power loss at any point of keeping or removing a greeting leaves it whole or absent, and once
// Add or Discard has returned, as they said: the writes reach the disk in the order they sync.
TEST_F(OutboxTest, APowerLossAtAnyPointLeavesWholeEntriesAndWhatWasDone) {
  sync();  // the greeting's files are on the disk before the test's own power loss
  const auto whole_entries = [&] {
    Outbox read(folder(), {});
    read.Load("interrupted");
    std::size_t folders = 0;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(folder(), ec))
      folders += !item.path().filename().string().starts_with(".");
    EXPECT_EQ(folders, read.entries().size()) << "a damaged entry is left";
    for (const OutboxEntry& entry : read.entries())
      EXPECT_EQ(ReadFile(entry.mail.files.at(0)), std::string(5000, 'v'));
    return read.entries().size();
  };
  for (int calls = 0;; ++calls) {
    fs::remove_all(folder());
    testing::PowerLossFileSystem disk(root_ / "attic");
    disk.FailAfter(calls);
    bool added = false;
    try {
      Outbox(folder(), {}, disk).Add(Mail());
      added = true;
    } catch (const Error&) {
    }
    disk.PowerLoss();
    const std::size_t kept = whole_entries();
    if (added) {
      EXPECT_EQ(kept, 1u) << "kept, said Add after " << calls << " calls";
      break;
    }
  }
  for (int calls = 0;; ++calls) {
    if (whole_entries() == 0) Outbox(folder(), {}).Add(Mail());
    testing::PowerLossFileSystem disk(root_ / "attic");
    Outbox outbox(folder(), {}, disk);
    outbox.Load("");
    disk.FailAfter(calls);
    const bool removed = [&] {
      try {
        return outbox.Discard(outbox.entries().at(0).id);
      } catch (const Error&) {
        return false;
      }
    }();
    disk.PowerLoss();
    const std::size_t kept = whole_entries();
    if (removed) {
      EXPECT_EQ(kept, 0u) << "removed, said Discard after " << calls << " calls";
      break;
    }
  }
}

TEST_F(OutboxTest, KeepsAMailWholeAcrossARestartAndANewTake) {
  Outbox outbox(folder(), {});
  const std::string id = outbox.Add(Mail());
  fs::create_directories(fs::path(folder()) / ".17-1");  // another one being written
  EXPECT_EQ(Outbox::Tally(folder()), (std::pair<std::size_t, uint64_t>{1, 5000 + 8}));
  // The next take writes new files under the same names.
  for (const char* name : {"Moviletta.mpg", "Moviletta.jpg"}) {
    fs::remove(sends_ / name);
    Write(sends_ / name, "another take");
  }

  Outbox again(folder(), {});
  again.Load("ended before its result");
  ASSERT_EQ(again.entries().size(), 1u);
  const OutboxEntry& entry = again.entries()[0];
  EXPECT_EQ(entry.id, id);
  EXPECT_EQ(entry.mail.label, "MovilettaStudio");
  EXPECT_EQ(entry.mail.recipients, "Bob,555,b@x");
  EXPECT_EQ(entry.mail.body, "<doc/>");
  EXPECT_EQ(entry.mail.message, "Happy birthday");
  EXPECT_EQ(entry.mail.route.server, "127.0.0.1:25");
  EXPECT_EQ(entry.mail.route.to, "drop@x");
  EXPECT_EQ(entry.mail.route.password, "") << "the password is never written to disk";
  ASSERT_EQ(entry.mail.files.size(), 2u);
  EXPECT_EQ(ReadFile(entry.mail.files[0]), std::string(5000, 'v'));
  EXPECT_EQ(ReadFile(entry.mail.files[1]), "snapshot");
  EXPECT_EQ(entry.bytes, 5008u);
  EXPECT_FALSE(entry.sending) << "a send under way when the process ended is over";
  EXPECT_EQ(entry.explanation, "ended before its result");

  again.MarkFailed(id, "550 refused");
  Outbox third(folder(), {});
  third.Load("");
  EXPECT_EQ(third.Find(id)->explanation, "550 refused");
  EXPECT_TRUE(third.Discard(id));
  EXPECT_FALSE(third.Discard(id));
  EXPECT_TRUE(fs::is_empty(folder()));
}

TEST_F(OutboxTest, LeftoversOfACrashAreClearedAndForeignFoldersLeftAlone) {
  fs::create_directories(fs::path(folder()) / ".17-1");       // an entry half written
  fs::create_directories(fs::path(folder()) / ".gone-16-1");  // one half removed
  fs::create_directories(fs::path(folder()) / "notes");
  Write(fs::path(folder()) / "notes" / "entry.json", "{\"when\": \"yesterday\"}");
  // Entries that would carry files from elsewhere: their own folder's names only.
  Outbox writer(folder(), {});
  const std::string good = writer.Add(Mail());
  const std::string text = ReadFile(fs::path(folder()) / good / "entry.json");
  for (const std::string elsewhere : {"../../.sends/1/Moviletta.jpg", "/etc/passwd", ".."}) {
    const fs::path hostile = fs::path(folder()) / ("9-" + std::to_string(elsewhere.size()));
    fs::create_directories(hostile);
    std::string changed = text;
    changed.replace(changed.find("Moviletta.jpg"), 13, elsewhere);
    Write(hostile / "entry.json", changed);
  }
  // An entry whose own file is a link to a file elsewhere.
  const fs::path linked = fs::path(folder()) / "9-99";
  fs::create_directories(linked);
  Write(linked / "entry.json", text);
  for (const auto& file : fs::directory_iterator(fs::path(folder()) / good))
    if (file.path().filename() == "Moviletta.jpg")
      fs::create_symlink("/etc/passwd", linked / "Moviletta.jpg");
    else if (file.path().filename() != "entry.json")
      fs::copy_file(file.path(), linked / file.path().filename());
  fs::remove_all(fs::path(folder()) / good);
  Outbox outbox(folder(), {});
  outbox.Load("");
  EXPECT_TRUE(outbox.entries().empty());
  EXPECT_TRUE(fs::exists(fs::path(folder()) / "9-11" / "entry.json")) << "left in place";
  EXPECT_FALSE(fs::exists(fs::path(folder()) / ".17-1"));
  EXPECT_FALSE(fs::exists(fs::path(folder()) / ".gone-16-1"));
  EXPECT_TRUE(fs::exists(fs::path(folder()) / "notes")) << "not ours to remove";
}

TEST_F(OutboxTest, AFullOutboxNamesItsOldestFailedEntriesAndNeverOneUnderWay) {
  Outbox outbox(folder(), {.entries = 2, .bytes = 12000});
  const std::string first = outbox.Add(Mail("first"));
  const std::string second = outbox.Add(Mail("second"));
  EXPECT_TRUE(outbox.EntriesToDrop(10).empty()) << "both are under way";
  outbox.MarkFailed(first, "x");
  outbox.MarkFailed(second, "y");
  const auto to_drop = outbox.EntriesToDrop(10);
  ASSERT_EQ(to_drop.size(), 1u);
  EXPECT_EQ(to_drop[0].id, first);
  EXPECT_EQ(outbox.EntriesToDrop(7000).size(), 2u) << "7000 bytes more fit only once both are gone";
  EXPECT_FALSE(outbox.Fits(12001));
  EXPECT_TRUE(outbox.EntriesToDrop(12001).empty()) << "one that can never fit drops nothing";
}

// A process killed at any moment while it keeps greetings leaves each entry whole or absent.
TEST_F(OutboxTest, KilledWhileWritingLeavesEntriesWholeOrAbsent) {
  Write(sends_ / "Moviletta.mpg", std::string(std::size_t{4} << 20, 'v'));
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // writes entries until it is killed, and never returns into the tests
      try {
        Outbox outbox(folder(), {.entries = 1000, .bytes = uint64_t{1} << 40});
        for (;;) outbox.MarkFailed(outbox.Add(Mail()), "550 refused");
      } catch (...) {
      }
      _exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    Outbox outbox(folder(), {});
    outbox.Load("interrupted");
    for (const OutboxEntry& entry : outbox.entries()) {
      ASSERT_EQ(entry.mail.files.size(), 2u) << entry.id;
      EXPECT_EQ(fs::file_size(entry.mail.files[0]), std::size_t{4} << 20) << entry.id;
      EXPECT_EQ(ReadFile(entry.mail.files[1]), "snapshot") << entry.id;
    }
    for (const auto& item : fs::directory_iterator(folder()))
      EXPECT_FALSE(item.path().filename().string().starts_with(".")) << "cleared at load";
  }
}

}  // namespace
}  // namespace moviletta
