#include "host/site_consent.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>

#include "host/secret.h"
#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"

namespace moviletta::web {
namespace {

constexpr const char* kSource = "Moviletta.SiteConsent";

bool Loopback(const std::string& host) {
  return host == "localhost" || host == "[::1]" ||
         std::regex_match(host, std::regex(R"(127\.\d{1,3}\.\d{1,3}\.\d{1,3})"));
}

}  // namespace

SiteConsent::SiteConsent(std::string file) : file_(std::move(file)) {
  std::ifstream in(file_);
  if (!in) return;
  const nlohmann::json stored = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!stored.is_object()) return;
  MutexLock lock(mutex_);
  for (const auto& [origin, token] : stored.items())
    if (token.is_string() && Canonical(origin) == origin) tokens_[origin] = token;
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
  if (scheme == "http" && !Loopback(host)) return std::nullopt;
  std::string port;
  if (!port_text.empty()) {
    const int number = std::stoi(port_text);
    if (number < 1 || number > 65535) return std::nullopt;
    if (!(scheme == "https" && number == 443) && !(scheme == "http" && number == 80))
      port = ":" + std::to_string(number);
  }
  return scheme + "://" + host + port;
}

std::string SiteConsent::Allow(std::string_view origin) {
  const std::optional<std::string> canonical = Canonical(origin);
  if (!canonical)
    throw Error(err::kInvalidArgument, "a site at " + std::string(origin) + " cannot be allowed",
                kSource);
  MutexLock lock(mutex_);
  if (const auto found = tokens_.find(*canonical); found != tokens_.end()) return found->second;
  const std::string token = NewToken();
  Tokens next = tokens_;
  next[*canonical] = token;
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
  return found != tokens_.end() && SameSecret(token, found->second);
}

bool SiteConsent::Allowed(std::string_view origin) const {
  MutexLock lock(mutex_);
  return tokens_.contains(origin);
}

std::optional<std::string> SiteConsent::OriginOf(const std::string& token) const {
  MutexLock lock(mutex_);
  const auto found = std::ranges::find_if(
      tokens_, [&](const auto& entry) { return SameSecret(token, entry.second); });
  if (found == tokens_.end()) return std::nullopt;
  return found->first;
}

std::vector<std::string> SiteConsent::Origins() const {
  MutexLock lock(mutex_);
  std::vector<std::string> origins;
  for (const auto& [origin, token] : tokens_) origins.push_back(origin);
  return origins;
}

void SiteConsent::Keep(Tokens next) {
  nlohmann::json stored = nlohmann::json::object();
  for (const auto& [origin, token] : next) stored[origin] = token;
  WriteFileWhole(file_, stored.dump(2), kSource, /*sync_to_disk=*/true, /*owner_only=*/true);
  tokens_ = std::move(next);
}

}  // namespace moviletta::web
