// SPDX-License-Identifier: GPL-3.0-or-later
// What keeping a greeting in the outbox adds to a send: the entry of a 60 s 640 x 480 greeting
// (about 9 MB of video, freshly written as a compression leaves it, and a snapshot) written whole
// and synced to disk, and removed again. Runs in the current folder: a disk, as the application
// folder is, where /tmp may be memory.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_util.h"
#include "moviletta/outbox/outbox.h"

int main() {
  namespace fs = std::filesystem;
  using namespace moviletta;
  const fs::path root = fs::current_path() / (".outbox-bench-" + std::to_string(getpid()));
  const fs::path sends = root / ".sends" / "1";
  fs::create_directories(sends);
  const auto take = [&] {  // a new compression and snapshot, not yet on the disk
    for (const char* name : {"Moviletta.mpg", "Moviletta.jpg"}) fs::remove(sends / name);
    std::ofstream(sends / "Moviletta.mpg", std::ios::binary) << std::string(9 << 20, 'v');
    std::ofstream(sends / "Moviletta.jpg", std::ios::binary) << std::string(30 << 10, 'j');
  };
  const OutboxMail mail{"MovilettaStudio",
                        "Bob,555,bob@test",
                        std::string(2000, 'x'),
                        {"127.0.0.1:25", "studio@test", "", "drop@test"},
                        {(sends / "Moviletta.mpg").string(), (sends / "Moviletta.jpg").string()},
                        "Happy birthday"};
  Outbox outbox((root / "OUTBOX").string(), {});
  std::vector<double> keep, discard;
  for (int round = 0; round < 9; ++round) {
    take();
    std::string id;
    keep.push_back(bench::Seconds([&] { id = outbox.Add(mail); }));
    discard.push_back(bench::Seconds([&] { outbox.Discard(id); }));
  }
  std::printf("outbox entry of a 9 MB greeting, 9 rounds\n");
  std::printf(
      "  kept (linked, synced, renamed): median %.1f ms (goal < 100, a tenth of the\n"
      "  send's one-second pause)\n",
      bench::Median(keep) * 1000);
  std::printf("  removed after a success: median %.1f ms\n", bench::Median(discard) * 1000);
  fs::remove_all(root);
  return 0;
}
