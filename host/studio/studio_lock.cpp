// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/studio_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"

namespace moviletta::web {
namespace {

std::string UrlFile(const std::string& folder) {
  return folder + "/studio.url";
}

}  // namespace

std::optional<StudioLock> StudioLock::Take(const std::string& folder,
                                           std::optional<std::string>& page) {
  const std::string path = folder + "/studio.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw Error(err::kPathFileAccess, "cannot make " + path, "moviletta-studio", errno);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    std::string url;
    if (std::ifstream(UrlFile(folder)) >> url || std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      if (!url.empty()) page = url;
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  StudioLock lock(fd, folder);
  lock.Withdraw();  // an earlier studio's word, which has ended
  return lock;
}

StudioLock::StudioLock(StudioLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), folder_(std::move(other.folder_)) {}

StudioLock& StudioLock::operator=(StudioLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    folder_ = std::move(other.folder_);
  }
  return *this;
}

StudioLock::~StudioLock() {
  Release();
}

void StudioLock::Release() {
  if (fd_ < 0) return;
  Withdraw();
  ::close(std::exchange(fd_, -1));
}

void StudioLock::Withdraw() const {
  std::error_code ec;
  std::filesystem::remove(UrlFile(folder_), ec);
}

void StudioLock::Announce(const std::string& url) const {
  WriteFileWhole(UrlFile(folder_), url + "\n", "moviletta-studio", /*sync_to_disk=*/false,
                 /*owner_only=*/true);
}

}  // namespace moviletta::web
