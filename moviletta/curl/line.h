// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <curl/curl.h>

#include "moviletta/common/mutex.h"
#include "moviletta/common/thread_annotations.h"

namespace moviletta::curl {

// The connection of a transfer, which another thread can cut: once Cut, every read and write of
// the transfer fails at once, whatever it waits for, and no new connection opens until Reset.
// Threads: Use and the sockets' callbacks on the transfer's thread; Cut and Reset on any.
class Line {
 public:
  // Makes the transfer of `h` open and close its sockets through this line; false when libcurl
  // refuses. The line must outlive the handle.
  bool Use(CURL* h);
  void Cut();
  void Reset();

 private:
  static curl_socket_t Open(void* line, curlsocktype, curl_sockaddr* address);
  static int Close(void* line, curl_socket_t socket);

  Mutex mutex_;
  curl_socket_t socket_ GUARDED_BY(mutex_) = CURL_SOCKET_BAD;
  bool cut_ GUARDED_BY(mutex_) = false;
};

}  // namespace moviletta::curl
