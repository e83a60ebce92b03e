// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/skin_catalogue.h"

#include <charconv>
#include <sstream>

#include "moviletta/common/error.h"

namespace moviletta::web {

nlohmann::json SkinCatalogue::List(const std::string& origin) {
  nlohmann::json skins = nlohmann::json::array();
  const HttpResponse response = http_.Create()->Get(catalogue_url_(origin), {});
  if (response.status == 404) return skins;  // a greeting server without a catalogue lists none
  if (!response.ok())
    throw Error(err::kHttpStatus, "HTTP status " + std::to_string(response.status));
  std::map<int32_t, std::string> pictures;
  std::istringstream lines(response.body);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find(','), last = line.rfind(',');
    if (first == std::string::npos || first == last) continue;
    int32_t id = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + first, id);
    const std::string url = line.substr(last + 1);
    if (ec != std::errc() || end != line.data() + first ||
        !(url.starts_with("http://") || url.starts_with("https://")))
      continue;
    pictures[id] = url;
    skins.push_back({{"id", id},
                     {"name", line.substr(first + 1, last - first - 1)},
                     {"thumbnail", "/skins/" + std::to_string(id) + "/picture"}});
  }
  MutexLock lock(mutex_);
  pictures_[origin] = std::move(pictures);
  return skins;
}

std::optional<std::string> SkinCatalogue::Picture(const std::string& origin, int32_t id) {
  std::string url;
  {
    MutexLock lock(mutex_);
    const auto listed = pictures_.find(origin);
    if (listed == pictures_.end()) return std::nullopt;
    const auto found = listed->second.find(id);
    if (found == listed->second.end()) return std::nullopt;
    url = found->second;
  }
  HttpResponse picture = http_.Create()->Get(url, {});
  if (!picture.ok() || !picture.body.starts_with("GIF8"))
    throw Error(err::kHttpStatus, "the skin's picture did not come");
  return std::move(picture.body);
}

}  // namespace moviletta::web
