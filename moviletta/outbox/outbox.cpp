// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/outbox/outbox.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kSource = "Moviletta.Outbox";
constexpr const char* kEntryFile = "entry.json";

// Throws Error 75 `what` when a file-system call failed with `os_error`.
void Check(int os_error, const std::string& what) {
  if (os_error != 0) throw Error(err::kPathFileAccess, what, kSource, os_error);
}

json ToJson(const OutboxEntry& entry) {
  json files = json::array();
  for (const std::string& file : entry.mail.files) files.push_back(fs::path(file).filename());
  return {{"when", entry.when},
          {"label", entry.mail.label},
          {"recipients", entry.mail.recipients},
          {"body", entry.mail.body},
          {"message", entry.mail.message},
          {"server", entry.mail.route.server},
          {"from", entry.mail.route.from},
          {"to", entry.mail.route.to},
          {"files", files},
          {"sending", entry.sending},
          {"explanation", entry.explanation}};
}

// Nothing when `text` is not an entry this outbox wrote.
std::optional<OutboxEntry> FromJson(const std::string& text, const fs::path& folder) {
  const json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object()) return std::nullopt;
  try {
    OutboxEntry entry;
    entry.id = folder.filename().string();
    entry.when = j.at("when").get<int64_t>();
    entry.mail.label = j.at("label").get<std::string>();
    entry.mail.recipients = j.at("recipients").get<std::string>();
    entry.mail.body = j.at("body").get<std::string>();
    entry.mail.message = j.value("message", "");  // not kept by earlier versions
    entry.mail.route.server = j.at("server").get<std::string>();
    entry.mail.route.from = j.at("from").get<std::string>();
    entry.mail.route.to = j.at("to").get<std::string>();
    for (const json& file : j.at("files")) {
      const fs::path name = file.get<std::string>();
      if (name != name.filename() || name == "." || name == ".." || name.empty())
        return std::nullopt;  // a file outside its own folder is not part of an entry
      // Nor is one that only points elsewhere: what is mailed is what the folder holds.
      std::error_code ec;
      if (fs::is_symlink(fs::symlink_status(folder / name, ec))) return std::nullopt;
      entry.mail.files.push_back((folder / name).string());
    }
    entry.sending = j.at("sending").get<bool>();
    entry.explanation = j.at("explanation").get<std::string>();
    entry.bytes = Outbox::SizeOf(entry.mail);
    return entry;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

Outbox::Outbox(std::string folder, OutboxLimits limits, FileSystem& files)
    : folder_(std::move(folder)), files_(files), limits_(limits) {}

void Outbox::MakeFolder() const {
  std::error_code ec;
  if (fs::is_directory(folder_, ec)) return;
  const fs::path parent = fs::path(folder_).parent_path();
  fs::create_directories(parent, ec);
  Check(files_.CreateFolder(folder_, 0700), "cannot create " + folder_);
  Check(files_.Sync(parent), "cannot create " + folder_);
}

uint64_t Outbox::SizeOf(const OutboxMail& mail) {
  uint64_t bytes = 0;
  for (const std::string& file : mail.files) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(file, ec);
    if (!ec) bytes += size;
  }
  return bytes;
}

std::pair<std::size_t, uint64_t> Outbox::Tally(const std::string& folder) {
  std::pair<std::size_t, uint64_t> tally{0, 0};
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_directory(ec) || entry.path().filename().string().starts_with(".") ||
        !fs::exists(entry.path() / kEntryFile, ec))
      continue;  // half written or half removed
    ++tally.first;
    for (const auto& file : fs::directory_iterator(entry.path(), ec)) {
      const uintmax_t size = file.file_size(ec);
      if (!ec && file.path().filename() != kEntryFile) tally.second += size;
    }
  }
  return tally;
}

void Outbox::Load(const std::string& interrupted) {
  entries_.clear();
  std::error_code ec;
  MakeFolder();
  for (const fs::directory_entry& item : fs::directory_iterator(folder_, ec)) {
    const std::string name = item.path().filename().string();
    if (name.starts_with(".")) {  // half written or half removed
      fs::remove_all(item.path(), ec);
      continue;
    }
    std::ostringstream text;
    text << std::ifstream(item.path() / kEntryFile, std::ios::binary).rdbuf();
    std::optional<OutboxEntry> entry = FromJson(text.str(), item.path());
    if (!entry) continue;  // not ours: left as it is
    if (entry->sending) {
      entry->sending = false;
      entry->explanation = interrupted;
      Save(*entry);
    }
    entries_.push_back(std::move(*entry));
  }
  std::ranges::sort(entries_, [](const OutboxEntry& a, const OutboxEntry& b) {
    return std::tie(a.when, a.id) < std::tie(b.when, b.id);
  });
}

const OutboxEntry* Outbox::Find(const std::string& id) const {
  const auto found = std::ranges::find(entries_, id, &OutboxEntry::id);
  return found == entries_.end() ? nullptr : &*found;
}

OutboxEntry* Outbox::FindEntry(const std::string& id) {
  return const_cast<OutboxEntry*>(std::as_const(*this).Find(id));
}

bool Outbox::Fits(uint64_t bytes) const {
  return limits_.entries > 0 && bytes <= limits_.bytes;
}

std::vector<OutboxEntry> Outbox::EntriesToDrop(uint64_t bytes) const {
  if (!Fits(bytes)) return {};
  std::size_t count = entries_.size() + 1;
  uint64_t total = bytes;
  for (const OutboxEntry& entry : entries_) total += entry.bytes;
  std::vector<OutboxEntry> out;
  for (const OutboxEntry& entry : entries_) {
    if (count <= limits_.entries && total <= limits_.bytes) break;
    if (entry.sending) continue;
    out.push_back(entry);
    --count, total -= entry.bytes;
  }
  return out;
}

std::string Outbox::Add(const OutboxMail& mail) {
  OutboxEntry entry;
  entry.when = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
  MakeFolder();
  std::error_code ec;
  do {
    entry.id = std::to_string(entry.when) + "-" + std::to_string(++next_);
  } while (fs::exists(fs::path(folder_) / entry.id, ec));
  const fs::path staging = fs::path(folder_) / ("." + entry.id);
  fs::remove_all(staging, ec);
  Check(files_.CreateFolder(staging, 0700), "cannot create " + staging.string());
  try {
    entry.mail = mail;
    entry.mail.files.clear();
    for (const std::string& file : mail.files) {
      const fs::path kept = staging / fs::path(file).filename();
      Check(LinkOrCopy(file, kept, files_), "cannot keep " + file);
      Check(files_.Sync(kept), "cannot keep " + file);
      entry.mail.files.push_back((fs::path(folder_) / entry.id / kept.filename()).string());
    }
    entry.sending = true;
    entry.bytes = SizeOf(mail);
    // Syncs the staging folder too, with the names of the files linked into it.
    WriteFileWhole((staging / kEntryFile).string(), ToJson(entry).dump(), kSource, true, true,
                   files_);
    Check(files_.Rename(staging, fs::path(folder_) / entry.id),
          "cannot keep the greeting in " + folder_);
    Check(files_.Sync(folder_), "cannot keep the greeting in " + folder_);
  } catch (...) {
    fs::remove_all(staging, ec);
    throw;
  }
  entries_.push_back(entry);
  return entry.id;
}

void Outbox::Save(const OutboxEntry& entry) const {
  WriteFileWhole((fs::path(folder_) / entry.id / kEntryFile).string(), ToJson(entry).dump(),
                 kSource, true, true, files_);
}

void Outbox::MarkSending(const std::string& id) {
  OutboxEntry* entry = FindEntry(id);
  if (!entry) return;
  entry->sending = true;
  Save(*entry);
}

void Outbox::MarkFailed(const std::string& id, const std::string& explanation) {
  OutboxEntry* entry = FindEntry(id);
  if (!entry) return;
  entry->sending = false;
  entry->explanation = explanation;
  Save(*entry);
}

bool Outbox::Discard(const std::string& id) {
  const auto found = std::ranges::find(entries_, id, &OutboxEntry::id);
  if (found == entries_.end()) return false;
  const fs::path hidden = fs::path(folder_) / (".gone-" + id);
  Check(files_.Rename(fs::path(folder_) / id, hidden), "cannot remove " + id + " from " + folder_);
  Check(files_.Sync(folder_), "cannot remove " + id + " from " + folder_);
  std::error_code ec;
  entries_.erase(found);
  fs::remove_all(hidden, ec);
  return true;
}

}  // namespace moviletta
