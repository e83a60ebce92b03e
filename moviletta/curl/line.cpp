// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/curl/line.h"

#include <sys/socket.h>
#include <unistd.h>

#include "moviletta/curl/handles.h"

namespace moviletta::curl {

bool Line::Use(CURL* h) {
  return Set(h, CURLOPT_OPENSOCKETFUNCTION, &Line::Open) &&
         Set(h, CURLOPT_OPENSOCKETDATA, static_cast<void*>(this)) &&
         Set(h, CURLOPT_CLOSESOCKETFUNCTION, &Line::Close) &&
         Set(h, CURLOPT_CLOSESOCKETDATA, static_cast<void*>(this));
}

void Line::Cut() {
  MutexLock lock(mutex_);
  cut_ = true;
  if (socket_ != CURL_SOCKET_BAD) shutdown(socket_, SHUT_RDWR);
}

void Line::Reset() {
  MutexLock lock(mutex_);
  cut_ = false;
}

curl_socket_t Line::Open(void* line, curlsocktype, curl_sockaddr* address) {
  auto* self = static_cast<Line*>(line);
  MutexLock lock(self->mutex_);
  if (self->cut_) return CURL_SOCKET_BAD;
  const int opened = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  self->socket_ = opened >= 0 ? opened : CURL_SOCKET_BAD;
  return self->socket_;
}

int Line::Close(void* line, curl_socket_t socket) {
  auto* self = static_cast<Line*>(line);
  MutexLock lock(self->mutex_);
  if (self->socket_ == socket) self->socket_ = CURL_SOCKET_BAD;
  return close(socket);
}

}  // namespace moviletta::curl
