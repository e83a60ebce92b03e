// SPDX-License-Identifier: GPL-3.0-or-later
// moviletta-greetings: the greeting service a greeting site's owner runs. It gives the studio its
// settings and skins, keeps its error log and registrations, has an admin page, takes greetings
// in from the mail drop and brings them to their recipients.
//
//   moviletta-greetings serve --data DIR --listen 127.0.0.1:PORT [--site HOST] [--database URL]
//       [--relay smtp://HOST:PORT] [--public-url URL] [--sms-gateway {number}@GATEWAY] [--no-work]
//   moviletta-greetings deliver --data DIR [--recipient ADDRESS] < mail   (exit 0, 65 or 75)
//   moviletta-greetings work --data DIR [--relay ...] [--once]
//   moviletta-greetings migrate --data DIR [--database URL]
//   moviletta-greetings admin add NAME --data DIR [--database URL]
//   moviletta-greetings settings --data DIR --site HOST NAME=VALUE...
//   moviletta-greetings skin add --data DIR --site HOST --id N --name NAME --kind SKIN|STATIC
//   GIF...
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"
#include "service/intake/intake.h"
#include "service/intake/intake_door.h"
#include "service/jobs/worker.h"
#include "service/store/postgres_store.h"
#include "service/store/sqlite_store.h"
#include "service/web/admin_routes.h"
#include "service/web/protocol_routes.h"
#include "service/web/secrets.h"
#include "service/web/site_settings.h"
#include "service/web/skin_check.h"
#include "service/web/watch_routes.h"

namespace {

using namespace moviletta::service;
namespace fs = std::filesystem;

struct Options {
  std::string data;
  std::string database;  // "" the SQLite file in the data folder
  std::string listen = "127.0.0.1:8080";
  std::string site;   // "" the listen address
  std::string pages;  // a folder of pages served at "/" (a greeting site's own), or ""
  std::string relay = "smtp://127.0.0.1:25";
  std::string public_url;  // "" http://<the site's host>
  std::string sms_gateway;
  bool no_work = false;
  int threads = 2;
  int lease_seconds = 600;
  int drain_seconds = 8;
};

std::unique_ptr<Greetings> OpenGreetings(const Options& options) {
  return std::make_unique<Greetings>(
      OpenSql(options.database, options.data + "/greetings.sqlite3"));
}

WorkerOptions WorkOptions(const Options& options) {
  WorkerOptions work;
  work.threads = options.threads;
  work.lease = std::chrono::seconds(options.lease_seconds);
  work.drain = std::chrono::seconds(options.drain_seconds);
  work.sms_gateway = options.sms_gateway;
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  work.name = std::string(host) + ":" + std::to_string(::getpid());
  if (!options.public_url.empty()) {
    std::string url = options.public_url;
    while (url.ends_with("/")) url.pop_back();
    work.site_address = [url](const std::string& site) {
      return SiteAddress{site, "greetings@" + HostName(site), url};
    };
  }
  return work;
}

// SIGTERM and SIGINT blocked in every thread from now on, for one thread to take with sigwait.
sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

const Clock kSystemClock = [] { return std::chrono::system_clock::now(); };

// The store the options name, migrated.
std::unique_ptr<Store> OpenStore(const Options& options) {
  std::error_code ec;
  fs::create_directories(options.data, ec);
  ::chmod(options.data.c_str(), 0700);
  const std::string& url = options.database;
  std::unique_ptr<Store> store;
  if (url.starts_with("postgresql://") || url.starts_with("postgres://"))
    store = std::make_unique<PostgresStore>(url);
  else if (url.empty() || url.starts_with("sqlite:"))
    store = std::make_unique<SqliteStore>(url.empty() ? options.data + "/greetings.sqlite3"
                                                      : url.substr(7));
  else
    throw moviletta::Error(2, "--database is sqlite:FILE or postgresql://...",
                           "moviletta-greetings");
  store->Migrate();
  return store;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw moviletta::Error(53, "cannot read " + path, "moviletta-greetings");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// One mail on standard input, as the mail server hands it over.
int Deliver(const Options& options, const std::string& recipient) {
  // One connection, and no migration: `serve` and `migrate` keep the schema.
  std::error_code ec;
  fs::create_directories(options.data, ec);
  std::unique_ptr<Greetings> greetings = OpenGreetings(options);
  const IntakeLimits limits;
  // Read as it comes, up to a byte past the limit (which refuses it): no more memory than the
  // mail takes.
  std::string mail;
  char chunk[64 * 1024];
  while (mail.size() <= limits.mail_bytes && std::cin.read(chunk, sizeof chunk).gcount() > 0)
    mail.append(chunk, static_cast<std::size_t>(std::cin.gcount()));
  Intake intake(*greetings, options.data, kSystemClock, limits);
  const IntakeOutcome outcome = intake.Deliver(mail, recipient, options.site);
  (outcome.status == 0 ? std::cout : std::cerr)
      << "moviletta-greetings: " << outcome.reason << std::endl;
  return outcome.status;
}

// The jobs, until SIGTERM (or, with `once`, until none is due).
int Work(const Options& options, bool once) {
  const sigset_t signals = BlockStopSignals();
  std::unique_ptr<Store> store = OpenStore(options);
  std::unique_ptr<Greetings> greetings = OpenGreetings(options);
  SmtpRelay relay(options.relay);
  Worker worker(*store, *greetings, relay, options.data, kSystemClock, WorkOptions(options));
  if (once) {
    std::cout << worker.RunDue() << " job(s) ran" << std::endl;
    return 0;
  }
  worker.Start();
  std::cout << "WORKING" << std::endl;
  int signal = 0;
  sigwait(&signals, &signal);
  worker.Stop();
  return 0;
}

int Serve(const Options& options) {
  const auto colon = options.listen.rfind(':');
  if (colon == std::string::npos) {
    std::cerr << "moviletta-greetings: --listen wants HOST:PORT\n";
    return 2;
  }
  const std::string host = options.listen.substr(0, colon);
  const int wanted_port = std::stoi(options.listen.substr(colon + 1));

  // SIGTERM and SIGINT are taken by a thread of their own, which stops the server.
  const sigset_t signals = BlockStopSignals();

  std::unique_ptr<Store> store = OpenStore(options);
  std::unique_ptr<Greetings> greetings = OpenGreetings(options);
  const Clock clock = kSystemClock;
  SmtpRelay relay(options.relay);
  Worker worker(*store, *greetings, relay, options.data, clock, WorkOptions(options));
  httplib::Server server;
  server.set_payload_max_length(std::size_t{64} << 20);
  server.set_read_timeout(10, 0);
  server.set_exception_handler(
      [](const httplib::Request& req, httplib::Response& res, std::exception_ptr failure) {
        try {
          std::rethrow_exception(failure);
        } catch (const std::exception& e) {
          std::cerr << "failed " << req.method << " " << req.path << ": " << e.what() << "\n";
        }
        res.status = 500;
        res.set_content("The service failed; it is logged.", "text/plain");
      });
  if (!options.pages.empty() && !server.set_mount_point("/", options.pages)) {
    std::cerr << "moviletta-greetings: no folder " << options.pages << "\n";
    return 1;
  }
  ProtocolRoutes protocol(*store, clock);
  protocol.Register(server);
  AdminRoutes admin(*store, clock);
  admin.ShowGreetings(*greetings, options.data);
  admin.Register(server);
  WatchRoutes watch(*greetings, options.data, clock);
  watch.Register(server);
  // For a load balancer and systemd: the process answers; the database and the media folder
  // can be used.
  server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok\n", "text/plain");
  });
  server.Get("/readyz", [&](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    try {
      greetings->JobCounts();
      const fs::path probe = fs::path(options.data) / "media" / (".ready-" + RandomHex(6));
      fs::create_directories(probe.parent_path());
      moviletta::WriteFileWhole(probe.string(), "", "readyz", true, true);
      fs::remove(probe);
      res.set_content("ready\n", "text/plain");
    } catch (const std::exception& e) {
      res.status = 503;
      res.set_content(std::string("not ready: ") + e.what() + "\n", "text/plain");
    }
  });

  const int port = wanted_port > 0 && server.bind_to_port(host, wanted_port)
                       ? wanted_port
                       : (wanted_port == 0 ? server.bind_to_any_port(host) : -1);
  if (port <= 0) {
    std::cerr << "moviletta-greetings: cannot listen on " << options.listen << "\n";
    return 1;
  }
  MakeSite(*store, options.site.empty() ? host + ":" + std::to_string(port) : options.site);
  // Mails from `moviletta-deliver` on this host, taken in with this process's connection.
  IntakeDoor door(*greetings, options.data, clock);
  door.Open();
  std::thread signal_watch([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    door.Close();  // new mails go to another node, or are taken in by deliver itself
    server.stop();
  });
  if (!options.no_work) worker.Start();
  std::cout << "READY " << port << std::endl;
  server.listen_after_bind();
  door.Close();
  worker.Stop();
  if (signal_watch.joinable()) {
    pthread_kill(signal_watch.native_handle(), SIGTERM);  // ended by something else: free it
    signal_watch.join();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ::umask(077);  // the site owner's data is theirs alone
  CLI::App app("Moviletta greetings: the greeting service of one or more greeting sites.",
               "moviletta-greetings");
  app.set_version_flag("--version", std::string("moviletta-greetings ") + MOVILETTA_VERSION);
  app.set_config("--config", "", "a file of option = value lines for the options below");
  app.require_subcommand(1);
  app.failure_message(CLI::FailureMessage::help);
  Options options;
  const auto common = [&](CLI::App* command) {
    command->add_option("--data", options.data, "the service's data folder")->required();
    command->add_option(
        "--database", options.database,
        "the database: sqlite:FILE (default: greetings.sqlite3 in the data folder)");
  };

  CLI::App* serve = app.add_subcommand("serve", "serve the studios and the admin page");
  common(serve);
  serve->add_option("--listen", options.listen, "the address and port to listen on (port 0: any)")
      ->capture_default_str();
  serve->add_option("--site", options.site, "the first site's host name (default: --listen's)");
  serve->add_option("--pages", options.pages, "a folder of the site's own pages, served at /")
      ->check(CLI::ExistingDirectory);
  const auto mailing = [&](CLI::App* command) {
    command->add_option("--relay", options.relay, "the outgoing mail relay, smtp://HOST:PORT")
        ->capture_default_str();
    command->add_option("--public-url", options.public_url,
                        "how the watch pages are reached (default: http://<site host>)");
    command->add_option("--sms-gateway", options.sms_gateway,
                        "texts to mobile numbers go to this address, {number} replaced");
    command->add_option("--threads", options.threads, "jobs run at once")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    command
        ->add_option("--lease", options.lease_seconds,
                     "seconds a job is held: one its worker did not finish is then taken again")
        ->check(CLI::Range(1, 86400))
        ->capture_default_str();
    command
        ->add_option("--drain", options.drain_seconds,
                     "seconds a stopping node lets its running jobs finish before it gives them "
                     "back")
        ->check(CLI::Range(0, 600))
        ->capture_default_str();
  };
  mailing(serve);
  serve->add_flag("--no-work", options.no_work, "leave the jobs to `work` processes");

  CLI::App* deliver =
      app.add_subcommand("deliver", "take one mail from the mail drop on standard input");
  common(deliver);
  std::string recipient;
  deliver->add_option("--recipient", recipient, "the address the mail was for");
  deliver->add_option("--site", options.site, "the site it is for (default: by --recipient)");

  CLI::App* work = app.add_subcommand("work", "run the jobs: videos and mails");
  common(work);
  mailing(work);
  bool once = false;
  work->add_flag("--once", once, "run the jobs that are due, then end");

  CLI::App* report =
      app.add_subcommand("report", "print a site's installations, error log and greetings");
  common(report);
  report->add_option("--site", options.site, "the site's host name")->required();

  CLI::App* migrate = app.add_subcommand("migrate", "bring the database to this version");
  common(migrate);

  CLI::App* admin = app.add_subcommand("admin", "administrators");
  admin->require_subcommand(1);
  CLI::App* admin_add =
      admin->add_subcommand("add", "add an administrator; prints their password once");
  std::string admin_name;
  admin_add->add_option("NAME", admin_name, "the administrator's name")->required();
  common(admin_add);

  CLI::App* settings = app.add_subcommand("settings", "set settings of a site");
  common(settings);
  settings->add_option("--site", options.site, "the site's host name")->required();
  std::vector<std::string> assignments;
  settings->add_option("NAME=VALUE", assignments, "settings to set")->required();

  CLI::App* skin = app.add_subcommand("skin", "skins of a site");
  skin->require_subcommand(1);
  CLI::App* skin_add = skin->add_subcommand("add", "add a skin from GIF files, in frame order");
  common(skin_add);
  skin_add->add_option("--site", options.site, "the site's host name")->required();
  Skin added;
  skin_add->add_option("--id", added.id, "its number")->required()->check(CLI::Range(0, 100000));
  skin_add->add_option("--name", added.name, "its name in the catalogue")->required();
  skin_add->add_option("--kind", added.kind, "SKIN (animated) or STATIC")
      ->required()
      ->check(CLI::IsMember({"SKIN", "STATIC"}));
  std::vector<std::string> pictures;
  skin_add->add_option("GIF", pictures, "the pictures")->required()->check(CLI::ExistingFile);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }

  try {
    InitSecrets();
    if (*serve) return Serve(options);
    if (*deliver) return Deliver(options, recipient);
    if (*work) return Work(options, once);
    std::unique_ptr<Store> store = OpenStore(options);
    if (*report) {
      const std::optional<int64_t> site = store->SiteOf(options.site);
      if (!site) {
        std::cerr << "moviletta-greetings: no site " << options.site << "\n";
        return 1;
      }
      for (const Registration& r : store->Registrations(*site))
        std::cout << "installation " << r.installation << " version " << r.version << ", "
                  << r.announcements << " announcement(s)\n";
      for (const ErrorReport& r : store->Reports(*site, {}))
        std::cout << "error in " << r.function << " [" << r.section << "] " << r.code << " "
                  << r.description << " (installation " << r.installation << ")\n";
      for (const Greeting& g : OpenGreetings(options)->OfSite(*site)) {
        std::cout << "greeting " << g.id << " (" << g.kind << ") from " << g.sender_name << ": "
                  << g.state << ", /watch/" << g.token << "\n";
        for (const Recipient& r : g.recipients)
          std::cout << "  " << (r.role == "sender" ? "copy to the sender " : "to ") << r.name << " "
                    << (r.email.empty() ? r.cell : r.email) << ": " << r.state << "\n";
      }
    } else if (*migrate) {
      std::cout << "the database is at version " << store->Migrate() << "\n";
    } else if (*admin_add) {
      const std::string password = RandomHex(12);
      store->AddAdministrator(admin_name, HashPassword(password));
      std::cout << password << std::endl;
    } else if (*settings) {
      SettingsValues values;
      for (const std::string& assignment : assignments) {
        const auto equals = assignment.find('=');
        if (equals == std::string::npos) {
          std::cerr << "moviletta-greetings: \"" << assignment << "\" is not NAME=VALUE\n";
          return 2;
        }
        values[assignment.substr(0, equals)] = assignment.substr(equals + 1);
      }
      if (const std::string refused = RefusedSetting(values); !refused.empty()) {
        std::cerr << "moviletta-greetings: nothing was changed: " << refused << "\n";
        return 1;
      }
      store->SetSettings(MakeSite(*store, options.site), values);
    } else if (*skin_add) {
      std::vector<GivenPicture> given;
      std::vector<std::string> bytes;
      for (const std::string& path : pictures) {
        bytes.push_back(ReadFile(path));
        given.emplace_back(path, bytes.back());
      }
      if (const std::string refused = RefusedSkin(added, given); !refused.empty()) {
        std::cerr << "moviletta-greetings: the skin was not added: " << refused << "\n";
        return 1;
      }
      store->PutSkin(MakeSite(*store, options.site), added, bytes);
    }
  } catch (const moviletta::Error& e) {
    std::cerr << "moviletta-greetings: " << e.description() << "\n";
    if (*deliver) return IntakeOutcome::kLater;  // the database: the mail server tries again
    return e.number() == 2 ? 2 : 1;
  } catch (const std::exception& e) {
    std::cerr << "moviletta-greetings: " << e.what() << "\n";
    return *deliver ? IntakeOutcome::kLater : 1;
  }
  return 0;
}
