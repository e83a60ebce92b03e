// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "moviletta/common/mutex.h"
#include "moviletta/server/http_client.h"

namespace moviletta::web {

// The greeting servers' skin catalogues for the pages: each origin's ("" the studio's own page)
// from the address `catalogue_url` gives for it, whose lines are "<id>,<name>,<picture URL>", and
// the pictures its last catalogue named. `http` must outlive the object. Any thread.
class SkinCatalogue {
 public:
  SkinCatalogue(std::function<std::string(const std::string& origin)> catalogue_url,
                HttpClientFactory& http)
      : catalogue_url_(std::move(catalogue_url)), http_(http) {}

  // [{"id", "name", "thumbnail": "/skins/<id>/picture"}]; [] when the server has no catalogue
  // (404). Throws Error when the catalogue does not come.
  nlohmann::json List(const std::string& origin);
  // The GIF of skin `id` of `origin`'s last catalogue; nothing when it named none. Throws Error
  // when the picture does not come or is no GIF.
  std::optional<std::string> Picture(const std::string& origin, int32_t id);

 private:
  std::function<std::string(const std::string&)> catalogue_url_;
  HttpClientFactory& http_;
  Mutex mutex_;
  // Skin id: picture URL, from each origin's last catalogue.
  std::map<std::string, std::map<int32_t, std::string>> pictures_ GUARDED_BY(mutex_);
};

}  // namespace moviletta::web
