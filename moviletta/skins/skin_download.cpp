// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/skins/skin_download.h"

#include <filesystem>
#include <vector>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"
#include "moviletta/reporting/trap.h"
#include "moviletta/skins/skin_answer.h"

namespace moviletta {
namespace {

namespace fs = std::filesystem;

// A picture answer must be a 2xx GIF body; anything else is not saved.
void CheckPicture(const HttpResponse& response, const std::string& url) {
  if (!response.ok())
    throw Error(err::kHttpStatus, "HTTP status " + std::to_string(response.status) + " for " + url,
                "Moviletta.HttpClient");
  if (!response.body.starts_with("GIF87a") && !response.body.starts_with("GIF89a"))
    throw Error(err::kInvalidPicture, "not a GIF picture: " + url, "Moviletta.SkinDownloader");
}

// Removes a half-filled staging folder unless the download completed.
class StagingFolder {
 public:
  explicit StagingFolder(fs::path path) : path_(std::move(path)) {
    fs::remove_all(path_);
    MakeOwnFolder(path_, "Moviletta.SkinDownloader");
  }
  ~StagingFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  const fs::path& path() const { return path_; }
  void MoveTo(const fs::path& target) {
    fs::rename(path_, target);
    path_.clear();
  }

 private:
  fs::path path_;
};

}  // namespace

SkinDownloader::SkinDownloader(GreetingServer& server, ByteStreamFactory& streams,
                               const ClientSettings& settings, SkinCache& cache,
                               ErrorReporter& reporter)
    : server_(server), streams_(streams), settings_(settings), cache_(cache), reporter_(reporter) {}

std::string SkinDownloader::GetRemoteSkinType(int32_t id) {
  Trap trap(reporter_, "GetRemoteSkinType");
  std::string answer;
  trap.Run([&] {
    const std::string url = server_.Address(settings_.SKIN, {{"lSkinID", std::to_string(id)}});
    trap.section = "set URL: " + url;
    const HttpResponse response = server_.Get(url, {{"Content-type", "text"}});
    trap.section = " send. xmlHTTP.responseText: " + response.body;
    if (!response.ok())
      throw Error(err::kHttpStatus, "HTTP status " + std::to_string(response.status),
                  "Moviletta.HttpClient");
    answer = response.body;
  });
  return answer;
}

std::string SkinDownloader::DownloadSkin(int32_t id) {
  const std::string answer = GetRemoteSkinType(id);
  Trap trap(reporter_, "DownloadSkin");
  std::string result;
  trap.Run([&] {
    const SkinAnswer skin = ReadSkinAnswer(answer, trap.section);
    if (skin.kind == kKindSkin)
      result = DownloadFrames(id, skin.path, skin.count, trap.section);
    else if (skin.kind == kKindStatic)
      result = DownloadStatic(id, skin.path, trap.section);
  });
  return result;
}

std::string SkinDownloader::DownloadFrames(int32_t id, const std::string& picture_path,
                                           int32_t count, std::string& section) {
  const std::string folder = cache_.GenerateSkinPath(id);
  const fs::path skins(cache_.GetSkinsDirectory());
  if (!fs::is_directory(skins))
    throw Error(err::kPathNotFound, "Path not found: " + skins.string());
  const fs::path target = fs::path(folder).parent_path();
  if (fs::exists(target)) {
    if (SkinCache::IsPresent(folder + "1.gif"))
      throw Error(err::kFileAlreadyExists, "File already exists: " + folder);
    fs::remove_all(target);  // a folder left by an interrupted download
  }

  StagingFolder staging(skins / ("." + target.filename().string() + ".download"));
  const std::unique_ptr<HttpClient> client = server_.http().Create();
  for (int32_t i = 1; i <= count; ++i) {
    const std::string url = settings_.DOWNLOAD + picture_path + std::to_string(i) + ".gif";
    section = "sFrameURL: " + url;
    const HttpResponse response = client->Get(url, {});
    CheckPicture(response, url);
    const std::unique_ptr<ByteStream> stream = streams_.Create();
    stream->Write(response.body);
    stream->SaveToFile((staging.path() / (std::to_string(i) + ".gif")).string());
  }
  staging.MoveTo(target);
  return folder;
}

std::string SkinDownloader::DownloadStatic(int32_t id, const std::string& picture_path,
                                           std::string& section) {
  const std::string url = settings_.DOWNLOAD + picture_path;
  const std::string path = cache_.GenerateStaticPath(id);
  section = "sStaticURL: " + url;
  const HttpResponse response = server_.Get(url);
  CheckPicture(response, url);
  const std::unique_ptr<ByteStream> stream = streams_.Create();
  stream->Write(response.body);
  stream->SaveToFile(path);
  return path;
}

}  // namespace moviletta
