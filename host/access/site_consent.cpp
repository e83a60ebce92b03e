// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/access/site_consent.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>

#include "host/access/secret.h"
#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"
#include "moviletta/common/loopback.h"

namespace moviletta::web {
namespace {

constexpr const char* kSource = "Moviletta.SiteConsent";

}  // namespace

SiteConsent::SiteConsent(std::string file) : file_(std::move(file)) {
  std::ifstream in(file_);
  if (!in) return;
  const nlohmann::json stored = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!stored.is_object()) return;
  MutexLock lock(mutex_);
  for (const auto& [origin, site] : stored.items()) {
    if (Canonical(origin) != origin) continue;
    if (site.is_string())  // as an earlier version kept it
      tokens_[origin] = {site.get<std::string>(), ""};
    else if (site.is_object() && site.value("token", nlohmann::json()).is_string())
      tokens_[origin] = {site["token"], site.value("server", "")};
  }
}

std::optional<std::string> SiteConsent::Canonical(std::string_view origin) {
  if (origin.size() > 300) return std::nullopt;
  std::string text(origin);
  std::ranges::transform(text, text.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const std::regex kOrigin(
      R"(^(https?)://([a-z0-9](?:[a-z0-9-]*[a-z0-9])?(?:\.[a-z0-9](?:[a-z0-9-]*[a-z0-9])?)*|\[[0-9a-f:.]+\])(?::(\d{1,5}))?$)");
  std::smatch parts;
  if (!std::regex_match(text, parts, kOrigin)) return std::nullopt;
  const std::string scheme = parts[1], host = parts[2], port_text = parts[3];
  if (scheme == "http" && !IsLoopbackHost(host)) return std::nullopt;
  std::string port;
  if (!port_text.empty()) {
    const int number = std::stoi(port_text);
    if (number < 1 || number > 65535) return std::nullopt;
    if (!(scheme == "https" && number == 443) && !(scheme == "http" && number == 80))
      port = ":" + std::to_string(number);
  }
  return scheme + "://" + host + port;
}

std::optional<std::string> SiteConsent::CanonicalServer(std::string_view server,
                                                        std::string_view origin) {
  if (server.empty()) return std::string();
  if (server.size() > 500) return std::nullopt;
  static const std::regex kServer(R"(^([A-Za-z]+://[^/?#\s]+)(/[A-Za-z0-9._~/-]*)?$)");
  const std::string text(server);
  std::smatch parts;
  if (!std::regex_match(text, parts, kServer)) return std::nullopt;
  const std::optional<std::string> at = Canonical(parts[1].str());
  if (!at || (at->starts_with("http://") && !origin.starts_with("http://"))) return std::nullopt;
  std::string path = parts[2];
  while (path.ends_with("/")) path.pop_back();
  return *at + path;
}

std::string SiteConsent::Allow(std::string_view origin, std::string_view server) {
  const std::optional<std::string> canonical = Canonical(origin);
  if (!canonical)
    throw Error(err::kInvalidArgument, "a site at " + std::string(origin) + " cannot be allowed",
                kSource);
  const std::optional<std::string> named = CanonicalServer(server, *canonical);
  if (!named)
    throw Error(err::kInvalidArgument,
                "a site cannot send greetings through " + std::string(server), kSource);
  MutexLock lock(mutex_);
  const auto found = tokens_.find(*canonical);
  if (found != tokens_.end() && found->second.server == *named) return found->second.token;
  const std::string token = found != tokens_.end() ? found->second.token : NewToken();
  Tokens next = tokens_;
  next[*canonical] = {token, *named};
  Keep(std::move(next));
  return token;
}

bool SiteConsent::Revoke(std::string_view origin) {
  MutexLock lock(mutex_);
  if (!tokens_.contains(origin)) return false;
  Tokens next = tokens_;
  next.erase(next.find(origin));
  Keep(std::move(next));
  return true;
}

bool SiteConsent::Admits(std::string_view origin, const std::string& token) const {
  MutexLock lock(mutex_);
  const auto found = tokens_.find(origin);
  return found != tokens_.end() && SameSecret(token, found->second.token);
}

std::optional<std::string> SiteConsent::Prove(std::string_view origin, std::string_view nonce,
                                              std::string_view host) const {
  MutexLock lock(mutex_);
  const auto found = tokens_.find(origin);
  if (found == tokens_.end()) return std::nullopt;
  return Proof(found->second.token, nonce, host);
}

bool SiteConsent::Allowed(std::string_view origin) const {
  MutexLock lock(mutex_);
  return tokens_.contains(origin);
}

std::optional<std::string> SiteConsent::OriginOf(const std::string& token) const {
  MutexLock lock(mutex_);
  const auto found = std::ranges::find_if(
      tokens_, [&](const auto& entry) { return SameSecret(token, entry.second.token); });
  if (found == tokens_.end()) return std::nullopt;
  return found->first;
}

std::vector<std::string> SiteConsent::Origins() const {
  MutexLock lock(mutex_);
  std::vector<std::string> origins;
  for (const auto& [origin, site] : tokens_) origins.push_back(origin);
  return origins;
}

std::string SiteConsent::ServerOf(std::string_view origin) const {
  MutexLock lock(mutex_);
  const auto found = tokens_.find(origin);
  return found == tokens_.end() ? "" : found->second.server;
}

void SiteConsent::Keep(Tokens next) {
  nlohmann::json stored = nlohmann::json::object();
  for (const auto& [origin, site] : next)
    stored[origin] = {{"token", site.token}, {"server", site.server}};
  WriteFileWhole(file_, stored.dump(2), kSource, /*sync_to_disk=*/true, /*owner_only=*/true);
  tokens_ = std::move(next);
}

}  // namespace moviletta::web
