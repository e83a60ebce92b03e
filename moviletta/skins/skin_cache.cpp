// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/skin_cache.h"

#include <filesystem>

#include "moviletta/common/file_write.h"
#include "moviletta/reporting/trap.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;

bool IsHidden(const fs::path& path) {
  return path.filename().string().starts_with('.');
}

}  // namespace

SkinCache::SkinCache(std::string app_directory, ErrorReporter& reporter)
    : app_directory_(std::move(app_directory)), reporter_(reporter) {}

void SkinCache::MakeFolders(const std::string& app_directory) {
  for (const char* below : {"", "/SKINS", "/STATICS"})
    MakeOwnFolder(app_directory + below, "Moviletta");
}

std::string SkinCache::GetSkinsDirectory() {
  std::string path;
  Trap(reporter_, "GetSkinsDirectory").Run([&] { path = GetAppDirectory() + "/SKINS/"; });
  return path;
}

std::string SkinCache::GetStaticsDirectory() {
  std::string path;
  Trap(reporter_, "GetStaticsDirectory").Run([&] { path = GetAppDirectory() + "/STATICS/"; });
  return path;
}

std::string SkinCache::GenerateSkinPath(int32_t id) {
  std::string path;
  Trap(reporter_, "GenerateSkinPath").Run([&] {
    path = GetSkinsDirectory() + "ml_skin_" + std::to_string(id) + "/";
  });
  return path;
}

std::string SkinCache::GenerateStaticPath(int32_t id) {
  std::string path;
  Trap(reporter_, "GenerateStaticPath").Run([&] {
    path = GetStaticsDirectory() + "ml_static_" + std::to_string(id) + ".gif";
  });
  return path;
}

std::string SkinCache::GetLocalSkinType(int32_t id) {
  std::string kind;
  Trap(reporter_, "GetLocalSkinType").Run([&] {
    if (IsPresent(GenerateStaticPath(id)))
      kind = kKindStatic;
    else if (IsPresent(GenerateSkinPath(id) + "1.gif"))
      kind = kKindSkin;
    else
      kind = kKindNone;
  });
  return kind;
}

int32_t SkinCache::NumberOfFiles(const std::string& folder) {
  int32_t count = 0;
  Trap(reporter_, "NumberOfFiles").Run([&] {
    std::error_code ec;
    int32_t counted = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file() && !IsHidden(it->path())) ++counted;
    count = counted;
  });
  return count;
}

bool SkinCache::IsPresent(const std::string& path) {
  std::error_code ec;
  return !IsHidden(path) && fs::is_regular_file(path, ec);
}

}  // namespace moviletta
