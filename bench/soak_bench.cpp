// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the studio keeps memory it no longer needs: cycles of what a visitor does (load an
// animated skin of 10 frames at 320 x 240 (no preview), record a second, play it back, send it)
// against a greeting server and a mail drop on this machine, with the studio's resident memory read
// from the system after the first 5 cycles and at the end. Cycles: the first argument (150).
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/fixtures/gif_files.h"
#include "tests/fixtures/greeting_server.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/studio_process.h"

using namespace moviletta::testing;
namespace fs = std::filesystem;

namespace {

constexpr int kWarmCycles = 5;

// Waits for the control to be back in status 1; false after a minute.
bool Settles(const StudioProcess& studio) {
  for (int i = 0; i < 600; ++i) {
    if (studio.Call("ClientStatus?kind=get").body == R"({"value":1})") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::max(std::stoi(argv[1]), kWarmCycles + 1) : 150;
  const fs::path app = fs::temp_directory_path() / ("soak-bench-" + std::to_string(getpid()));
  PrepareAppFolder(app.string());
  fs::create_directories(app / "SKINS/ml_skin_7");
  for (int frame = 1; frame <= 10; ++frame)
    WriteFile((app / "SKINS/ml_skin_7" / (std::to_string(frame) + ".gif")).string(),
              SolidGif(320, 240, {static_cast<uint8_t>(frame * 20), 40, 200}));
  MailDrop drop({"--password", "secret"});
  GreetingServerFixture server;
  server.SetSettings(SettingsDocument(
      server.address(), {{"SECLIMIT", "1"}, {"ANIMPREVIEW", "0"}, {"SMTPHOST", drop.host()}}));
  StudioProcess studio(server.address(), app.string());
  if (studio.port <= 0) return std::fprintf(stderr, "the studio did not start\n"), 1;
  studio.Post("/claim?page=soak");

  std::size_t warm = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    const bool done =
        studio.Call("LoadSkin", "[7]").status == 200 && Settles(studio) &&
        studio.Call("RecordVideo").status == 200 && Settles(studio) &&
        studio.Call("PlayVideo").status == 200 && Settles(studio) &&
        studio.Call("SendByEmail", R"(["Ann", "a@x.test", "Carl", "555", "", "Hi"])").status ==
            200 &&
        Settles(studio) && drop.WaitForMail(cycle, std::chrono::seconds(60));
    if (!done) return std::fprintf(stderr, "cycle %d did not complete\n", cycle), 1;
    if (cycle == kWarmCycles) warm = studio.Memory();
  }
  const std::size_t end = studio.Memory();
  const double growth = (static_cast<double>(end) - static_cast<double>(warm)) / warm * 100;
  std::printf(
      "resident after %d cycles: %.1f MiB, after %d: %.1f MiB; %+.1f KiB a cycle, %+.1f %% "
      "(goal: within 10 %%)\n",
      kWarmCycles, warm / 1048576.0, cycles, end / 1048576.0,
      (static_cast<double>(end) - static_cast<double>(warm)) / 1024 / (cycles - kWarmCycles),
      growth);
  fs::remove_all(app);
  return 0;
}
