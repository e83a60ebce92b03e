// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace moviletta::web {

// One studio per data folder: the first holds a lock on "<folder>/studio.lock" for as long as it
// runs and tells where its page is in "<folder>/studio.url" (its owner's alone); another one
// finds the lock held and reads where the first listens. The lock goes with the process,
// however it ends. Threads: the host thread.
class StudioLock {
 public:
  // Takes the lock of `folder`, which must exist. While another studio holds it, waits up to
  // five seconds for that one to tell its page (it may be starting) or to end (it may be
  // stopping): nothing when it goes on holding it, and `page` then holds the address it told,
  // if any. Throws Error when the lock file cannot be made.
  static std::optional<StudioLock> Take(const std::string& folder,
                                        std::optional<std::string>& page);

  StudioLock(StudioLock&& other) noexcept;
  StudioLock& operator=(StudioLock&& other) noexcept;
  ~StudioLock();

  // Tells the studios started later that this one's page is at `url`. Throws Error when it
  // cannot be written.
  void Announce(const std::string& url) const;
  // Stops telling it: this studio is stopping.
  void Withdraw() const;

 private:
  StudioLock(int fd, std::string folder) : fd_(fd), folder_(std::move(folder)) {}
  void Release();

  int fd_;
  std::string folder_;
};

}  // namespace moviletta::web
