// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting service's own work on greetings of 60 s at 640 x 480, as its mail server hands
// them over: intake per greeting through `deliver` (median and 95th percentile of GREETINGS,
// default 100; the mail server waits for it), the MP4 conversion beside the ffmpeg program doing
// the same conversion of the same file (their ratio), and the time from intake to the recipient's
// mail accepted by a local mail drop (median of CONVERSIONS, default 3) against the conversion's
// own time. Then the load of many small greetings (LOAD, default 1000, of 1 s each) handed to
// `moviletta-deliver` as mail servers do, two at a time for each node, which hands them to the
// nodes running here: two nodes on PostgreSQL and one node on SQLite, greetings taken in per
// second and per second of the machine's CPU (the nodes', the database server's and deliver's),
// and the 95th percentile. Usage: service_bench [GREETINGS [CONVERSIONS [LOAD]]]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench/bench_util.h"
#include "moviletta/encoding/transcode.h"
#include "service/intake/intake.h"
#include "service/jobs/worker.h"
#include "service/store/sqlite_store.h"
#include "service/web/secrets.h"
#include "tests/fixtures/greetings_process.h"
#include "tests/fixtures/mail_drop.h"
#include "tests/fixtures/postgres_server.h"
#include "tests/fixtures/studio_mails.h"

using namespace moviletta;
namespace fs = std::filesystem;

namespace {

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

// The CPU time the whole machine has spent (every process: the nodes, the database server,
// deliver), in seconds.
double MachineCpuSeconds() {
  std::ifstream stat("/proc/stat");
  std::string cpu;
  double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
  stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq;
  return (user + nice + system + irq + softirq) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// `count` mails (made by `mail_file(n)`) handed to deliver by `streams` streams at once (a mail
// server delivers two at a time to each node).
void Load(const char* name, int streams_in_all, int count, const std::string& data,
          const std::string& database, const std::function<std::string(int)>& mail_file) {
  std::vector<std::string> files;
  for (int n = 0; n < count; ++n) files.push_back(mail_file(n));
  std::vector<double> times(static_cast<std::size_t>(count));
  std::atomic<int> next{0}, failed{0};
  const double cpu_before = MachineCpuSeconds();
  const double wall = bench::Seconds([&] {
    std::vector<std::thread> streams;
    for (int s = 0; s < streams_in_all; ++s)
      streams.emplace_back([&] {
        for (int n; (n = next++) < count;) {
          int status = 0;
          times[static_cast<std::size_t>(n)] = bench::Seconds([&] {
            status = testing::DeliverFile(data, files[static_cast<std::size_t>(n)],
                                          database.empty()
                                              ? std::vector<std::string>{}
                                              : std::vector<std::string>{"--database", database});
          });
          if (status != 0) ++failed;
        }
      });
    for (std::thread& stream : streams) stream.join();
  });
  const double cpu = MachineCpuSeconds() - cpu_before;
  for (const std::string& file : files) fs::remove(file);
  std::printf(
      "  %s: %d greetings in %.1f s: %.1f a second, %.1f a second of a core (%.0f%% of %ld "
      "cores busy); 95th percentile %.0f ms%s\n",
      name, count, wall, count / wall, count / cpu,
      100 * cpu / wall / sysconf(_SC_NPROCESSORS_ONLN), sysconf(_SC_NPROCESSORS_ONLN),
      Percentile(times, 0.95) * 1000, failed ? " (some failed)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  const int greetings = argc > 1 ? std::atoi(argv[1]) : 100;
  const int conversions = argc > 2 ? std::atoi(argv[2]) : 3;
  const int load = argc > 3 ? std::atoi(argv[3]) : 1000;
  service::InitSecrets();
  const fs::path folder = fs::temp_directory_path() / ("service-bench-" + std::to_string(getpid()));
  const std::string data = (folder / "data").string(), studio = (folder / "studio").string();
  fs::create_directories(data);
  std::printf("making a 60 s greeting at 640 x 480...\n");
  testing::MakeGreetingFiles(studio, 60, 640, 480);
  const std::string mail = testing::StudioMail(
      studio, "A greeting",
      testing::MessageDocument("Ann", "ann@example.com", "Bob,555,bob@example.com", "Hello"));
  std::printf("the studio's mail: %.1f MB\n", mail.size() / 1e6);
  // Each greeting its own mail: its Message-ID differs.
  const auto mail_number = [&](int n) {
    return testing::WriteAsAnotherMail(mail, std::to_string(n),
                                       (folder / ("mail-" + std::to_string(n) + ".eml")).string());
  };

  {
    service::SqliteStore store(data + "/greetings.sqlite3");
    store.Migrate();
    store.AddSite("greetings.example.com");
  }
  std::vector<double> intake;
  for (int n = 0; n < greetings; ++n) {
    const std::string file = mail_number(n);
    int status = -1;
    intake.push_back(bench::Seconds([&] { status = testing::DeliverFile(data, file); }));
    fs::remove(file);
    if (status != 0) return std::fprintf(stderr, "deliver ended with %d\n", status), 1;
  }
  std::printf(
      "intake of %d greetings through deliver: median %.0f ms, 95th percentile %.0f ms "
      "(goal < 200 ms)\n",
      greetings, bench::Median(intake) * 1000, Percentile(intake, 0.95) * 1000);

  // The conversion, ours and the ffmpeg program's, of the same file.
  TranscodeJob job;
  job.input = studio + "/Moviletta.wmv";
  job.end = 60;
  job.output = (folder / "ours.mp4").string();
  job.format = kOutputFormatWebMp4;
  const std::atomic<bool> never{false};
  const double ours = bench::Seconds([&] { Transcode(job, never, [](double, double) {}); });
  const std::string command = "ffmpeg -loglevel error -y -i " + job.input +
                              " -c:v libx264 -preset veryfast -crf 23 -profile:v main "
                              "-pix_fmt yuv420p -c:a aac -b:a 96k -movflags +faststart " +
                              (folder / "theirs.mp4").string();
  const double theirs = bench::Seconds([&] { std::system(command.c_str()); });
  std::printf(
      "MP4 of 60 s at 640 x 480: ours %.2f s, the ffmpeg program %.2f s, ratio %.2f (goal <= "
      "1.0)\n",
      ours, theirs, ours / theirs);

  // From intake to the recipient's mail, one greeting at a time, a worker of one thread.
  testing::MailDrop drop;
  service::SqliteStore store(data + "/greetings.sqlite3");
  service::Greetings records(service::OpenSql("", data + "/greetings.sqlite3"));
  // The greetings taken in above are not this part's: done without work.
  for (std::optional<service::Job> j;
       (j = records.ClaimJob("bench", std::chrono::system_clock::now(), std::chrono::hours(1)));)
    records.JobDone(j->id);
  service::SmtpRelay relay("smtp://" + drop.host());
  service::Worker worker(store, records, relay, data,
                         [] { return std::chrono::system_clock::now(); },
                         {.threads = 1, .idle = std::chrono::milliseconds(20)});
  worker.Start();
  std::vector<double> road;
  for (int n = 0; n < conversions; ++n) {
    const std::string file = mail_number(greetings + n);
    const int before = drop.Count();
    road.push_back(bench::Seconds([&] {
      testing::DeliverFile(data, file);
      drop.WaitForMail(before + 1, std::chrono::minutes(5));
    }));
  }
  worker.Stop();
  std::printf(
      "intake to the recipient's mail accepted: median %.2f s of %d, %.2f times the conversion "
      "(goal < 1.5)\n",
      bench::Median(road), conversions, bench::Median(road) / ours);

  // Many small greetings.
  std::printf(
      "the load: %d greetings of 1 s, two streams at once (goal: PostgreSQL >= SQLite, "
      "95th percentile < 200 ms)\n",
      load);
  testing::MakeGreetingFiles(studio + "-small", 1);
  const std::string small = testing::StudioMail(
      studio + "-small", "A greeting",
      testing::MessageDocument("Ann", "ann@example.com", "Bob,555,bob@example.com", "Hello"));
  const auto small_file = [&](int n) {
    return testing::WriteAsAnotherMail(small, "small" + std::to_string(n),
                                       (folder / ("small-" + std::to_string(n) + ".eml")).string());
  };
  testing::PostgresServer postgres;
  const std::string url = postgres.NewDatabase();
  const std::string pg_data = (folder / "pg").string(), lite_data = (folder / "lite").string();
  for (const auto& [where, database] :
       {std::pair(pg_data, url), std::pair(lite_data, std::string())}) {
    fs::create_directories(where);
    const std::string settings = std::string(MOVILETTA_GREETINGS_BINARY) + " settings --data " +
                                 where + (database.empty() ? "" : " --database " + database) +
                                 " --site greetings.test FPS=15 > /dev/null";
    if (std::system(settings.c_str()) != 0) return std::fprintf(stderr, "no site\n"), 1;
  }
  {
    const std::vector<std::string> options = {"--no-work", "--site", "greetings.test", "--database",
                                              url};
    testing::GreetingsProcess first(pg_data, options), second(pg_data, options);
    if (!first.port || !second.port) return std::fprintf(stderr, "no PostgreSQL node\n"), 1;
    Load("two nodes on PostgreSQL, two streams each", 4, load, pg_data, url, small_file);
  }
  {
    testing::GreetingsProcess node(lite_data, {"--no-work", "--site", "greetings.test"});
    if (!node.port) return std::fprintf(stderr, "no SQLite node\n"), 1;
    Load("one node on SQLite, two streams", 2, load, lite_data, "", small_file);
  }
  fs::remove_all(folder);
  return 0;
}
