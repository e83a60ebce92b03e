// SPDX-License-Identifier: GPL-3.0-or-later
// Downloads an animated skin of 100 frames of about 20 KB from a local server with the control's
// downloader and with the curl command line (one process, one connection), pair by pair, then
// decodes the frames into bitmaps.
#include <httplib.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "bench/bench_util.h"
#include "moviletta/server/byte_stream.h"
#include "moviletta/server/curl_http_client.h"
#include "moviletta/skins/gif_picture.h"
#include "moviletta/skins/skin_download.h"
#include "moviletta/xml/xml_document.h"
#include "tests/fixtures/gif_files.h"

using namespace moviletta;
namespace fs = std::filesystem;

int main() {
  constexpr int kFrames = 100;
  constexpr int kRounds = 7;
  std::mt19937 noise(42);
  std::vector<std::string> frames;
  for (int i = 0; i < kFrames; ++i) {
    testing::TestGif gif{.width = 160, .height = 120, .palette = {}, .pixels = {}};
    for (int c = 0; c < 256; ++c)
      gif.palette.push_back({uint8_t(c), uint8_t(255 - c), uint8_t(c / 2)});
    for (int p = 0; p < 160 * 120; ++p) gif.pixels.push_back(uint8_t(noise() % 64));
    frames.push_back(testing::GifBytes(gif));
  }

  httplib::Server server;
  server.set_tcp_nodelay(true);
  server.Get("/skinType.asp", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("SKIN,bench/," + std::to_string(kFrames), "text/plain");
  });
  server.Get(R"(/skins/bench/(\d+)\.gif)",
             [&](const httplib::Request& req, httplib::Response& res) {
               res.set_content(frames.at(std::stoul(req.matches[1]) - 1), "image/gif");
             });
  server.Get("/clientErrLog.asp", [](const httplib::Request&, httplib::Response&) {});
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread listener([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::string address = "http://127.0.0.1:" + std::to_string(port);

  const fs::path app = fs::temp_directory_path() / "moviletta-bench-skins";
  fs::remove_all(app);
  fs::create_directories(app / "SKINS");
  fs::create_directories(app / "curl");

  CurlHttpClientFactory http;
  FileByteStreamFactory streams;
  Identity identity;
  GreetingServer greeting(address, http, identity);
  ErrorReporter reporter(greeting);
  ClientSettings settings;
  settings.SKIN = address + "/skinType.asp";
  settings.DOWNLOAD = address + "/skins/";
  SkinCache cache(app.string(), reporter);
  SkinDownloader downloader(greeting, streams, settings, cache, reporter);

  const std::string curl = "curl -s -f -o '" + (app / "curl").string() + "/#1.gif' '" + address +
                           "/skins/bench/[1-" + std::to_string(kFrames) + "].gif'";
  std::vector<double> ours, theirs;
  for (int round = 0; round < kRounds; ++round) {
    fs::remove_all(app / "SKINS" / "ml_skin_1");
    ours.push_back(bench::Seconds([&] {
      if (downloader.DownloadSkin(1).empty()) std::cerr << "download failed\n";
    }));
    theirs.push_back(bench::Seconds([&] {
      if (std::system(curl.c_str()) != 0) std::cerr << "curl failed\n";
    }));
  }
  std::size_t bytes = 0;
  for (const auto& f : frames) bytes += f.size();
  std::printf("skin download: %d frames, %.1f KB each on average, %d rounds\n", kFrames,
              bytes / 1024.0 / kFrames, kRounds);
  std::printf("  control:  median %.4f s\n", bench::Median(ours));
  std::printf("  curl CLI: median %.4f s\n", bench::Median(theirs));
  std::printf("  ratio control/curl: %.2f (goal <= 1.10)\n",
              bench::Median(ours) / bench::Median(theirs));

  const std::string folder = cache.GenerateSkinPath(1);
  const double decode = bench::Seconds([&] {
    for (int i = 1; i <= kFrames; ++i) LoadGifPicture(folder + std::to_string(i) + ".gif");
  });
  std::printf("GIF decode: %.3f ms per frame (160 x 120)\n", decode * 1000 / kFrames);

  server.stop();
  listener.join();
  fs::remove_all(app);
}
