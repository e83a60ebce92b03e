// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "moviletta/reporting/error_reporter.h"
#include "moviletta/server/byte_stream.h"
#include "moviletta/server/client_settings.h"
#include "moviletta/server/greeting_server.h"
#include "moviletta/skins/skin_cache.h"

namespace moviletta {

// Asks the greeting server what a skin is and fetches its pictures into the cache. Requests are
// synchronous and strictly one after another; the frames of a skin share one connection.
// A skin becomes visible under its cache name only once every file of it is complete.
// Host thread only; every referenced object must outlive the downloader.
class SkinDownloader {
 public:
  SkinDownloader(GreetingServer& server, ByteStreamFactory& streams, const ClientSettings& settings,
                 SkinCache& cache, ErrorReporter& reporter);

  // The server's skin answer ("SKIN,<path>,<count>", "STATIC,<path>", "NONE"), or the empty text
  // after a reported failure (including an HTTP status other than 2xx).
  std::string GetRemoteSkinType(int32_t id);

  // Fetches skin `id` as the answer describes it and returns its cache path: the folder of an
  // animated skin, the file of a static one. Empty for "NONE", for an unknown kind and after a
  // reported failure; a failure leaves the cache as it was.
  std::string DownloadSkin(int32_t id);

 private:
  std::string DownloadFrames(int32_t id, const std::string& picture_path, int32_t count,
                             std::string& section);
  std::string DownloadStatic(int32_t id, const std::string& picture_path, std::string& section);

  GreetingServer& server_;
  ByteStreamFactory& streams_;
  const ClientSettings& settings_;
  SkinCache& cache_;
  ErrorReporter& reporter_;
};

}  // namespace moviletta
