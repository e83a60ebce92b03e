// SPDX-License-Identifier: GPL-3.0-or-later
// moviletta-studio: the web host. Creates the control on this thread, serves its page on
// 127.0.0.1 and prints the page's address; runs until interrupted. One runs per user: another
// one says where the first listens and ends. `--help` lists the options.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "host/access/secret.h"
#include "host/studio/bridge.h"
#include "host/studio/devices.h"
#include "host/studio/observed_mail_sender.h"
#include "host/studio/origin_places.h"
#include "host/studio/sessions.h"
#include "host/studio/studio_lock.h"
#include "host/studio/user_folders.h"
#include "moviletta/capture/alsa_audio_output.h"
#include "moviletta/capture/ffmpeg_capture_device.h"
#include "moviletta/capture/ffmpeg_player.h"
#include "moviletta/capture/system_device_lister.h"
#include "moviletta/common/file_write.h"
#include "moviletta/control/memory_panel.h"
#include "moviletta/control/memory_progress_bar.h"
#include "moviletta/dispatch/curl_mail_sender.h"
#include "moviletta/encoding/ffmpeg_video_editor.h"
#include "moviletta/server/curl_http_client.h"
#include "moviletta/skins/skin_cache.h"

namespace {

using namespace moviletta;

// What the command line and the settings file ask for.
struct StudioOptions {
  ControlConfig config;
  CaptureOptions capture;
  std::optional<int> port;
  std::string bag;  // default: properties.json in the data folder
  std::string web;
  bool new_token = false;
  bool open = false;
};

// The page's files: installed beside the program (<prefix>/share/moviletta/web), else those of
// the source tree it was built from.
std::string WebFiles() {
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path installed =
      program.parent_path().parent_path() / "share/moviletta/web";
  if (!ec && std::filesystem::is_regular_file(installed / "index.html", ec)) return installed;
  return MOVILETTA_WEB_ROOT;
}

// Opens `url` in the user's browser without waiting for it; false when no opener starts.
bool OpenPage(const std::string& url) {
  std::string opener = "xdg-open", address = url;
  char* argv[] = {opener.data(), address.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, opener.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();  // reaps the opener when it ends
  return true;
}

// A data folder that an earlier install left open to others becomes its owner's alone: what the
// studio keeps there (greetings, tokens, allowed sites) is the visitor's.
void KeepToItsOwner(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::perms open =
      fs::status(folder, ec).permissions() & (fs::perms::group_all | fs::perms::others_all);
  if (ec || open == fs::perms::none) return;
  fs::permissions(folder, fs::perms::owner_all, ec);
  if (ec)
    std::cerr << "moviletta-studio: " << folder
              << " is open to others and could not be made the owner's alone: " << ec.message()
              << "\n";
  else
    std::cerr << "moviletta-studio: " << folder
              << " was open to others; it is now its owner's alone\n";
}

// The exit status of a studio whose program is gone (EX_TEMPFAIL): its unit starts it again,
// the new program if there is one.
constexpr int kProgramGone = 75;

// Whether the program this process runs was removed or replaced since it started (its package
// was removed or upgraded): the studio then ends, and a service manager starts the new one.
bool ProgramGone() {
  std::error_code ec;
  const std::string running = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  return !ec && running.ends_with(" (deleted)");
}

void ShowPage(const std::string& url, bool open) {
  std::cout << "Moviletta studio: " << url << std::endl;
  if (open && !OpenPage(url)) std::cout << "Open that address in your browser." << std::endl;
}

// Reads the command line into `options`; an exit status when the program ends here (after
// --help, --version, or a usage error: 2).
std::optional<int> ParseCommandLine(int argc, char** argv, StudioOptions& options) {
  CLI::App app(
      "Moviletta studio: serves the greeting studio's page on 127.0.0.1 and prints its "
      "address; runs until interrupted.",
      "moviletta-studio");
  app.set_version_flag("--version", std::string("moviletta-studio ") + MOVILETTA_VERSION);
  app.failure_message(CLI::FailureMessage::help);
  ControlConfig& config = options.config;
  // The settings document carries the mail password: the studio's own greeting server is asked
  // over TLS unless another is named.
  config.server_address = "https://greetings.movilettastudio.com";
  const std::optional<web::UserFolders> folders = web::UserFoldersFrom(std::getenv);
  if (folders) {
    config.app_directory = folders->data;
    app.set_config("--config", folders->settings_file,
                   "the studio's settings: lines of option = value, for the options below; the "
                   "command line wins");
  }
  app.add_option("--server", config.server_address, "the greeting server's address")
      ->capture_default_str();
  app.add_option("--app-dir", config.app_directory,
                 "the studio's data folder: skins, the outbox, the allowed sites, the launch "
                 "token, the stored properties")
      ->capture_default_str()
      ->required(!folders)
      ->check(CLI::Validator(
          [](const std::string& folder) { return folder.empty() ? "must not be empty" : ""; },
          "FOLDER"));
  std::string camera = "auto";
  app.add_option("--camera", camera, "auto, synthetic (a test picture) or a device")
      ->capture_default_str();
  app.add_option("--port", options.port,
                 "the port to listen on, 0 for any free one (default: the first free one of "
                 "47800-47809, where greeting sites' pages look for the studio)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--bag", options.bag,
                 "the control's stored properties, \"\" for none (default: properties.json in "
                 "the data folder)");
  options.web = WebFiles();
  app.add_option("--web", options.web, "the folder of the page's files")->capture_default_str();
  app.add_option("--outbox-entries", config.outbox_limits.entries,
                 "at most this many greetings kept unsent")
      ->capture_default_str();
  uint64_t outbox_mib = config.outbox_limits.bytes >> 20;
  app.add_option("--outbox-mib", outbox_mib, "at most this many MiB of greetings kept unsent")
      ->capture_default_str();
  app.add_flag("--new-token", options.new_token,
               "issue a new launch token: pages opened with the old address stop working");
  app.add_flag("--open", options.open,
               "open the studio's page in the browser (the running studio's, when there is one)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  // A misspelt setting is said, and the studio still starts: it may start at login.
  if (folders) {
    std::ifstream settings(app.get_config_ptr()->as<std::string>());
    for (std::string line; std::getline(settings, line);) {
      const std::string name = line.substr(0, line.find('='));
      const auto first = name.find_first_not_of(" \t"), last = name.find_last_not_of(" \t");
      if (first == std::string::npos || name[first] == '#' || name[first] == ';' ||
          name[first] == '[' || line.find('=') == std::string::npos)
        continue;
      const std::string option = name.substr(first, last - first + 1);
      if (!app.get_option_no_throw("--" + option))
        std::cerr << "moviletta-studio: the settings name \"" << option
                  << "\", which is no option of the studio; it is ignored\n";
    }
  }
  if (!web::SiteConsent::CanonicalServer(config.server_address, config.server_address))
    std::cerr << "moviletta-studio: " << config.server_address
              << " is not a secure (https) address: the greeting server's settings, with the mail "
                 "password, travel unencrypted\n";
  config.outbox_limits.bytes = outbox_mib << 20;
  if (app.count("--bag") == 0) options.bag = config.app_directory + "/properties.json";
  if (camera == "synthetic")
    options.capture.source = CaptureOptions::Source::kSynthetic;
  else if (camera != "auto")
    options.capture.source = CaptureOptions::Source::kCamera, options.capture.camera.name = camera;
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  using nlohmann::json;
  StudioOptions options;
  if (const std::optional<int> status = ParseCommandLine(argc, argv, options)) return *status;
  // Whatever the studio writes is the visitor's alone: folders 0700, files 0600 from the start.
  ::umask(077);
  const ControlConfig& config = options.config;
  const CaptureOptions& capture = options.capture;
  const std::optional<int>& port = options.port;
  // One studio per user: another one tells where the first listens.
  std::optional<web::StudioLock> lock;
  std::optional<std::string> running;
  try {
    MakeOwnFolder(config.app_directory, "moviletta-studio");
    KeepToItsOwner(config.app_directory);
    lock = web::StudioLock::Take(config.app_directory, running);
  } catch (const Error& e) {
    std::cerr << "moviletta-studio: " << e.description() << "\n";
    return 1;
  }
  if (!lock) {
    std::cout << "Moviletta studio is running already for " << config.app_directory << "."
              << std::endl;
    if (running) ShowPage(*running, options.open);
    return 0;
  }

  // Signals are taken by a thread of their own, which asks the host to stop: the host thread
  // may be deep inside a yield of the control when one comes.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  // The windows' feeds outlive the control, whose engines push into them until it is gone.
  web::FrameFeed capture_feed;
  web::FrameFeed player_feed;
  web::EventStream stream;
  ModuleState module;
  web::WebHost host(stream, options.bag, module);
  std::thread signal_watch([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    host.RequestStop();
  });
  ControlSite site(host, host.queue(), module);
  host.OnPropertyChanges([&site] { site.SaveProperties(); });
  web::SiteConsent sites(config.app_directory + "/allowed-sites.json");  // outlives the bridge
  // The launch token outlives the process, so that an open page finds its way back after a
  // restart and its address keeps working.
  std::string token;
  try {
    token = web::KeptToken(config.app_directory + "/launch-token", options.new_token);
  } catch (const Error& e) {
    std::cerr << "moviletta-studio: " << e.description() << "\n";
    return 1;
  }
  web::Bridge bridge(host, site, stream, {capture_feed, player_feed}, options.web, token);

  HttpOptions catalogue_options;
  catalogue_options.cancelled = [&host] { return host.Closing(); };
  CurlHttpClientFactory catalogue_http(catalogue_options);
  // Each page session's control is made anew, with the components, folder and greeting server
  // of the origin whose page drives the studio.
  const web::OriginPlaces places(config.app_directory, config.server_address);
  const auto server_of = [&](const std::string& origin) {
    return places.Server(origin, sites.ServerOf(origin));
  };
  const MemoryPanel* panel_now = nullptr;  // the running session's panel: shown while a send is
  SystemDeviceLister lister;
  web::Devices devices(lister, config.app_directory + "/devices.json", stream);
  // The running session's camera and the devices' generation it reads.
  FfmpegCaptureDevice* camera_now = nullptr;
  uint64_t camera_generation = 0;
  const auto make_setup = [&](const std::string& origin) {
    web::Sessions::Setup setup;
    Components& components = setup.components;
    camera_generation = devices.generation();
    auto camera = std::make_unique<FfmpegCaptureDevice>(devices.Apply(capture));
    camera->SetFrameListener([&](const BitmapHandle& frame) { capture_feed.Push(frame); });
    camera->SetLevelListener([&](const SoundLevel& level) {
      if (host.LastStatus() == STATUS_PLAYING) return;
      const auto tenths = [](double db) { return std::round(db * 10) / 10; };
      stream.Publish("level",
                     {{"peak", tenths(level.peak_dbfs)}, {"mean", tenths(level.mean_dbfs)}});
    });
    camera->SetFailureListener([&stream](const Error& failure) {
      stream.Publish("devicefailure", {{"detail", failure.description()}});
    });
    camera_now = camera.get();
    auto player =
        std::make_unique<FfmpegPlayer>([] { return std::make_unique<AlsaAudioOutput>(); });
    player->SetFrameListener([&](const BitmapHandle& frame) { player_feed.Push(frame); });
    player->OnSoundUnavailable([&stream](const std::string& why) {
      stream.Publish("nosound", {{"detail", why}});
    });
    components.VideoCapX1 = std::move(camera);
    components.VideoCapX2 = std::move(player);
    components.VideoEdit1 = std::make_unique<FfmpegVideoEditor>();
    components.CreateMailSender = web::ObservedMailSenders(CurlMailSenderFactory(), stream);
    HttpOptions http;
    http.cancelled = [&host] { return host.StopRequested(); };
    components.http = std::make_unique<CurlHttpClientFactory>(http);
    components.volume_serial = [origin]() -> std::optional<uint32_t> {
      const std::optional<uint32_t> serial = RootVolumeSerial();
      if (!serial) return std::nullopt;
      return web::OriginPlaces::SerialFor(origin, *serial);
    };
    auto progress = std::make_unique<MemoryProgressBar>();
    progress->on_change = [&stream, bar = progress.get()] {
      stream.Publish("progress", {{"value", bar->value}, {"text", bar->text}});
    };
    auto panel = std::make_unique<MemoryPanel>();
    panel->on_change = [&stream, shown = panel.get()] {
      stream.Publish("panel", {{"visible", shown->visible}});
    };
    panel_now = panel.get();
    setup.sending = [&panel_now] { return panel_now && panel_now->visible; };
    components.vbalProgressBar1 = std::move(progress);
    components.picGeneral = std::move(panel);
    setup.config = config;
    setup.config.server_address = server_of(origin);
    setup.config.app_directory = places.Folder(origin);
    setup.bag_file = origin.empty() ? options.bag : setup.config.app_directory + "/properties.json";
    if (!origin.empty()) MakeOwnFolder(config.app_directory + "/sites", "moviletta-studio");
    SkinCache::MakeFolders(setup.config.app_directory);
    return setup;
  };
  web::Sessions sessions(host, site, module, stream, bridge, make_setup);

  int status = 0;
  try {
    // The page is served while the control starts, which may wait for the greeting server.
    bridge.ServeSkinCatalogue(
        [&](const std::string& origin) { return server_of(origin) + "/skinCatalogue.asp"; },
        catalogue_http);
    bridge.ServeSites(
        sites,
        [&](const std::string& origin) {
          const auto [kept, bytes] = Outbox::Tally(places.Folder(origin) + "/OUTBOX");
          return json{{"server", server_of(origin)}, {"kept", kept}, {"bytes", bytes}};
        },
        [&](const std::string& origin, bool forget) {
          sessions.Forget(origin, [&places, origin, forget] {
            std::error_code ec;
            if (forget) std::filesystem::remove_all(places.Folder(origin), ec);
          });
        });
    bridge.ServeSnapshot(
        [&](const std::string& origin) { return places.Folder(origin) + "/Moviletta.jpg"; });
    bridge.ServeStill(
        [&](const std::string& origin) { return places.Folder(origin) + "/Moviletta.avi"; });
    bridge.ServeDevices([&] { return devices.Describe(); },
                        [&](const json& choice) { devices.Choose(choice); });
    bridge.OnSessions([&](const std::string& origin) { sessions.Begin(origin); },
                      [&] { sessions.Idle(); },
                      [&](const std::string& origin) { sessions.Unattended(origin); });
    bridge.OnRestart([&] {
      if (!site.control() || site.control()->ClientStatus() == STATUS_STARTING) sessions.Restart();
    });
    const int listening =
        port ? bridge.Start(*port) : bridge.Start(web::kStudioPort, web::kStudioPorts);
    if (!port &&
        (listening < web::kStudioPort || listening >= web::kStudioPort + web::kStudioPorts))
      std::cerr << "ports " << web::kStudioPort << "-" << web::kStudioPort + web::kStudioPorts - 1
                << " are all taken: sites' pages will not find the studio\n";
    lock->Announce(bridge.PageUrl());
    ShowPage(bridge.PageUrl(), options.open);
    if (options.open && isatty(STDOUT_FILENO))
      std::cout << "The studio runs in this window until you close it or press Ctrl+C."
                << std::endl;
    // No control until a page drives the studio: the camera stays closed.
    auto looked = std::chrono::steady_clock::now();
    while (!host.Closing()) {
      host.ProcessPendingEvents(std::chrono::milliseconds(100));
      sessions.Tick();
      if (std::chrono::steady_clock::now() - looked > std::chrono::seconds(2)) {
        looked = std::chrono::steady_clock::now();
        if (ProgramGone()) {
          std::cerr << "moviletta-studio: its program was removed or replaced; this studio ends\n";
          status = kProgramGone;
          pthread_kill(signal_watch.native_handle(), SIGTERM);  // stops as a signal does
        }
      }
      // A device chosen, plugged in or removed: the session's camera reads what is chosen and
      // present now, once no recording runs.
      if (site.control() && camera_now && camera_generation != devices.generation() &&
          !camera_now->IsCapturing()) {
        camera_generation = devices.generation();
        try {
          camera_now->SelectDevices(devices.Apply(capture));
        } catch (const Error& e) {
          stream.Publish("devicefailure", {{"detail", e.description()}});
        }
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "moviletta-studio: " << e.what() << "\n";
    status = 1;
  }
  lock->Withdraw();
  bridge.Stop();
  sessions.End();  // joins the engines' threads while the feeds they push to still exist
  if (!host.Closing()) pthread_kill(signal_watch.native_handle(), SIGTERM);
  signal_watch.join();
  return status;
}
