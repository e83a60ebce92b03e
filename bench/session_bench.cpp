// SPDX-License-Identifier: GPL-3.0-or-later
// How quickly a page that claims the studio can record: claim to ready (the greeting server's
// settings read, the installation announced, the camera open, status 1) against a greeting
// server on this machine, the median of 20 claims, each a take-over by another origin (the
// studio's own page and a site in turn, so each ends the other's session first). Then how long
// after its page lets go the session's camera is closed (the 5 s grace, then the closing).
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/studio_process.h"

using namespace moviletta;
using namespace moviletta::testing;
namespace fs = std::filesystem;

int main() {
  const fs::path app = fs::temp_directory_path() / ("session-bench-" + std::to_string(getpid()));
  PrepareAppFolder(app.string());
  GreetingServerFixture own_server, site_server;
  own_server.SetSettings(SettingsDocument(own_server.address()));
  site_server.SetSettings(SettingsDocument(site_server.address()));
  StudioProcess studio(own_server.address(), app.string());
  if (studio.port <= 0) return std::fprintf(stderr, "the studio did not start\n"), 1;
  const StudioProcess::Caller site = studio.AllowSite(site_server.address());
  studio.Get("/hello");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int resting = studio.Threads();

  std::vector<double> claims;
  for (int i = 0; i < 20; ++i) {
    const StudioProcess::Caller& caller = i % 2 ? site : studio.own();
    const std::string page = "page-" + std::to_string(i);
    bool ready = false;
    claims.push_back(bench::Seconds([&] {
      studio.PostAs(caller, "/claim?page=" + page + "&takeover=1");
      ready = studio.CallAs(caller, "ClientStatus?kind=get").body == R"({"value":1})";
    }));
    if (!ready) return std::fprintf(stderr, "claim %d did not make a ready control\n", i), 1;
  }
  std::printf(
      "claim to ready (median of 20, against a greeting server on this machine): %.0f ms "
      "(goal: under 500 ms; slowest %.0f ms)\n",
      bench::Median(claims) * 1000, *std::max_element(claims.begin(), claims.end()) * 1000);

  studio.PostAs(site, "/release?page=page-19");
  const double closed = bench::Seconds([&] {
    while (studio.Threads() > resting) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  std::printf("release to the camera closed: %.2f s (the 5 s grace, then %.0f ms of closing)\n",
              closed, (closed - 5.0) * 1000);
  fs::remove_all(app);
  return 0;
}
