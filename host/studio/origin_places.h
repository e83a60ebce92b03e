// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace moviletta::web {

// Where the pages of each origin keep their world. The studio's own page ("") has the data
// folder and the greeting server given at launch; a site has a folder of its own below
// "<data>/sites" (its origin in letters a person can read, and a digest that keeps two origins
// apart) and, unless it names another, its own origin as its greeting server. Any thread.
class OriginPlaces {
 public:
  OriginPlaces(std::string data_folder, std::string own_server);

  // The application folder of `origin`'s pages; its name is at most kMaxNameLetters of the
  // origin and a dash with eight hex digits of its digest.
  std::string Folder(const std::string& origin) const;
  static constexpr std::size_t kMaxNameLetters = 200;
  // The greeting server of `origin`'s pages: `named` when the site named one, else the origin.
  std::string Server(const std::string& origin, const std::string& named = "") const;
  // The volume serial the control of `origin` computes its installation identifier from: the
  // machine's own for the studio's page; for a site the first four bytes of SHA-256 over the
  // serial (four bytes, little-endian) and the origin, stable for the site and unrelated across
  // sites.
  static uint32_t SerialFor(const std::string& origin, uint32_t serial);

 private:
  std::string data_folder_;
  std::string own_server_;
};

}  // namespace moviletta::web
