// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "moviletta/reporting/error_reporter.h"

namespace moviletta {

// Skin kind words of the cache and of the server's skin answer.
inline constexpr std::string_view kKindSkin = "SKIN";
inline constexpr std::string_view kKindStatic = "STATIC";
inline constexpr std::string_view kKindNone = "NONE";

// The folders below the application folder and the skin cache in them:
//   <app>/SKINS/ml_skin_<id>/1.gif ... N.gif   an animated skin
//   <app>/STATICS/ml_static_<id>.gif           a static skin
// Files whose names start with "." are hidden: neither counted nor seen as present.
// Host thread only. The routines that can fail trap their failure, report it under their own
// name and return an empty text or 0.
class SkinCache {
 public:
  SkinCache(std::string app_directory, ErrorReporter& reporter);

  // Makes the application folder `app_directory` and its skin folders, those missing, for their
  // owner alone (0700), as a host does before it creates a control there. Throws Error 75.
  static void MakeFolders(const std::string& app_directory);

  const std::string& GetAppDirectory() const { return app_directory_; }
  // The application folder followed by "/".
  std::string GetOutputDirectory() const { return GetAppDirectory() + "/"; }
  std::string GetSkinsDirectory();
  std::string GetStaticsDirectory();
  // The folder of animated skin `id`, ending in "/".
  std::string GenerateSkinPath(int32_t id);
  std::string GenerateStaticPath(int32_t id);
  // "STATIC" when the static file is present (it wins), else "SKIN" when frame 1 is, else "NONE".
  std::string GetLocalSkinType(int32_t id);
  // Ordinary, visible files in `folder` (a path ending in "/"); 0 for a missing folder.
  int32_t NumberOfFiles(const std::string& folder);

  // True for an ordinary file whose name does not start with ".".
  static bool IsPresent(const std::string& path);

 private:
  std::string app_directory_;
  ErrorReporter& reporter_;
};

}  // namespace moviletta
