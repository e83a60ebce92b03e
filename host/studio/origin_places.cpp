// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/origin_places.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace moviletta::web {
namespace {

std::array<unsigned char, 32> Sha256(const std::string& bytes) {
  std::array<unsigned char, 32> digest{};
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr);
  return digest;
}

}  // namespace

OriginPlaces::OriginPlaces(std::string data_folder, std::string own_server)
    : data_folder_(std::move(data_folder)), own_server_(std::move(own_server)) {}

std::string OriginPlaces::Folder(const std::string& origin) const {
  if (origin.empty()) return data_folder_;
  std::string name;
  for (const char c : origin)
    name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
  // A folder's name is at most 255 bytes: a long origin is cut, the digest keeps it apart.
  name.resize(std::min<std::size_t>(name.size(), kMaxNameLetters));
  const auto digest = Sha256(origin);
  char tail[10];
  std::snprintf(tail, sizeof tail, "-%02x%02x%02x%02x", digest[0], digest[1], digest[2], digest[3]);
  return data_folder_ + "/sites/" + name + tail;
}

std::string OriginPlaces::Server(const std::string& origin, const std::string& named) const {
  if (origin.empty()) return own_server_;
  return named.empty() ? origin : named;
}

uint32_t OriginPlaces::SerialFor(const std::string& origin, uint32_t serial) {
  if (origin.empty()) return serial;
  std::string input(4, '\0');
  for (int i = 0; i < 4; ++i) input[i] = static_cast<char>((serial >> (8 * i)) & 0xff);
  const auto digest = Sha256(input + origin);
  return uint32_t{digest[0]} | uint32_t{digest[1]} << 8 | uint32_t{digest[2]} << 16 |
         uint32_t{digest[3]} << 24;
}

}  // namespace moviletta::web
