// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "moviletta/common/file_system.h"

namespace moviletta {

// Where a mail goes and as whom: the mail settings it was (or will be) sent with.
struct MailRoute {
  std::string server;
  std::string from;
  std::string password;
  std::string to;
};

// A mail to keep: what it says, where it goes and the files it carries (full paths).
struct OutboxMail {
  std::string label;
  std::string recipients;  // who it is for, as the page gave them
  std::string body;
  MailRoute route;
  std::vector<std::string> files;
  std::string message;  // the sender's words, for the list of what was not sent
};

// One greeting whose mail has not been confirmed.
struct OutboxEntry {
  std::string id;           // the entry's folder name
  int64_t when = 0;         // seconds since the epoch when it was kept
  OutboxMail mail;          // its files are in the entry's folder
  uint64_t bytes = 0;       // its files together
  bool sending = false;     // a send of it is under way
  std::string explanation;  // why its last send failed
};

// The bounds of an outbox.
struct OutboxLimits {
  std::size_t entries = 20;
  uint64_t bytes = uint64_t{500} << 20;
};

// Greetings whose mail was not confirmed, each in a folder of its own under `folder`: its files
// and "entry.json". An entry is written under a hidden name and renamed whole, and removed by
// hiding it first, so that after a crash or a power loss an entry is complete or absent. The
// files are hard links to the given ones where the file system allows (they must not change
// afterwards), else copies. Host thread only; every failure to write is an Error.
class Outbox {
 public:
  // The entries are written through `files`, which must outlive the outbox.
  Outbox(std::string folder, OutboxLimits limits, FileSystem& files = LocalFileSystem());

  // Reads the entries on disk, oldest first, and removes what a crash left half written or half
  // removed. An entry whose send was under way when its process ended gets `interrupted` as its
  // explanation. A folder whose "entry.json" is damaged or names a file outside the folder is
  // skipped and left in place.
  void Load(const std::string& interrupted);

  const std::vector<OutboxEntry>& entries() const { return entries_; }
  const OutboxEntry* Find(const std::string& id) const;

  // Whether a mail of `bytes` can be kept at all, alone.
  bool Fits(uint64_t bytes) const;
  // The entries that must go, oldest first, so that one more of `bytes` fits the limits; only
  // entries that are not being sent are named. None when such a mail cannot be kept at all.
  std::vector<OutboxEntry> EntriesToDrop(uint64_t bytes) const;
  // Keeps `mail` as a new entry whose send is under way; returns its id.
  std::string Add(const OutboxMail& mail);
  // The entry's send is under way again, or failed with `explanation`.
  void MarkSending(const std::string& id);
  void MarkFailed(const std::string& id, const std::string& explanation);
  // Removes the entry; false when there is none.
  bool Discard(const std::string& id);

  // The files of `mail` together; files that cannot be read count 0.
  static uint64_t SizeOf(const OutboxMail& mail);
  // How many whole entries the outbox at `folder` holds, and their files' bytes, read without
  // changing anything (its owner may be writing it meanwhile). Any thread.
  static std::pair<std::size_t, uint64_t> Tally(const std::string& folder);

 private:
  void Save(const OutboxEntry& entry) const;
  OutboxEntry* FindEntry(const std::string& id);
  // Makes the outbox's folder, unless it exists, and its name in its parent on the disk.
  void MakeFolder() const;

  std::string folder_;
  FileSystem& files_;
  OutboxLimits limits_;
  std::vector<OutboxEntry> entries_;
  uint64_t next_ = 0;
};

}  // namespace moviletta
