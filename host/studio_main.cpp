// moviletta-studio: the web host. Creates the control on this thread, serves its page on
// 127.0.0.1 and prints the page's address; runs until interrupted.
//
//   moviletta-studio [--server URL] [--app-dir DIR] [--camera auto|synthetic|DEVICE]
//                    [--port N] [--bag FILE] [--web DIR]
//   --port: 0 for any free port; by default the first free one of 47800-47809, where sites'
//   pages look for the studio
//                    [--outbox-entries N] [--outbox-mib N]
#include <nlohmann/json.hpp>

#include <pthread.h>

#include <csignal>
#include <iostream>
#include <thread>

#include "host/bridge.h"
#include "host/observed_mail_sender.h"
#include "host/secret.h"
#include "moviletta/capture/alsa_audio_output.h"
#include "moviletta/capture/ffmpeg_capture_device.h"
#include "moviletta/capture/ffmpeg_player.h"
#include "moviletta/control/memory_panel.h"
#include "moviletta/control/memory_progress_bar.h"
#include "moviletta/dispatch/curl_mail_sender.h"
#include "moviletta/encoding/ffmpeg_video_editor.h"
#include "moviletta/server/curl_http_client.h"

int main(int argc, char** argv) {
  using namespace moviletta;
  using nlohmann::json;
  ControlConfig config;
  CaptureOptions capture;
  std::optional<int> port;
  std::string bag = "moviletta-studio.bag.json";
  std::string web = MOVILETTA_WEB_ROOT;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--server")
      config.server_address = value;
    else if (arg == "--app-dir")
      config.app_directory = value;
    else if (arg == "--port")
      port = std::stoi(value);
    else if (arg == "--bag")
      bag = value;
    else if (arg == "--web")
      web = value;
    else if (arg == "--outbox-entries")
      config.outbox_limits.entries = std::stoul(value);
    else if (arg == "--outbox-mib")
      config.outbox_limits.bytes = std::stoull(value) << 20;
    else if (arg == "--camera") {
      if (value == "synthetic")
        capture.source = CaptureOptions::Source::kSynthetic;
      else if (value != "auto")
        capture.source = CaptureOptions::Source::kCamera, capture.camera.name = value;
    } else {
      std::cerr << "moviletta-studio: unknown option " << arg << "\n";
      return 2;
    }
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
  web::WebHost host(stream, bag, module);
  std::thread signal_watch([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    host.RequestStop();
  });
  ControlSite site(host, host.queue(), module);
  host.OnPropertyChanges([&site] { site.SaveProperties(); });
  web::SiteConsent sites(config.app_directory + "/allowed-sites.json");  // outlives the bridge
  web::Bridge bridge(host, site, stream, {capture_feed, player_feed}, web, web::NewToken());

  HttpOptions catalogue_options;
  catalogue_options.cancelled = [&host] { return host.StopRequested(); };
  CurlHttpClientFactory catalogue_http(catalogue_options);
  // The control's components, made anew for each start-up.
  const auto make_components = [&] {
    Components components;
    auto camera = std::make_unique<FfmpegCaptureDevice>(capture);
    camera->SetFrameListener([&](const BitmapHandle& frame) { capture_feed.Push(frame); });
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
    auto progress = std::make_unique<MemoryProgressBar>();
    progress->on_change = [&stream, bar = progress.get()] {
      stream.Publish("progress", {{"value", bar->value}, {"text", bar->text}});
    };
    auto panel = std::make_unique<MemoryPanel>();
    panel->on_change = [&stream, shown = panel.get()] {
      stream.Publish("panel", {{"visible", shown->visible}});
    };
    components.vbalProgressBar1 = std::move(progress);
    components.picGeneral = std::move(panel);
    return components;
  };
  // Starts the control on the host thread; the page is told what it waits for and how it ended.
  const auto start_control = [&] {
    bridge.StartupBegins("waiting for the greeting server at " + config.server_address);
    std::optional<Error> failure;
    try {
      failure = site.Create(make_components(), config, /*new_instance=*/true);
    } catch (const Error& e) {
      failure = e;
    }
    if (failure) std::cerr << "start-up failed: " << failure->description() << "\n";
    // The page may initialise the control only when it declares itself safe for that; the bag
    // is read only then.
    if (auto unread = site.RestoreProperties())
      std::cerr << "the stored properties were not read: " << unread->description() << "\n";
    bridge.StartupEnded(failure);
  };

  int status = 0;
  try {
    // The page is served while the control starts, which may wait for the greeting server.
    bridge.ServeSkinCatalogue(config.server_address + "/skinCatalogue.asp", catalogue_http);
    bridge.ServeSites(sites);
    bridge.OnRestart([&] {
      if (!site.control() || site.control()->ClientStatus() == STATUS_STARTING) start_control();
    });
    const int listening =
        port ? bridge.Start(*port) : bridge.Start(web::kStudioPort, web::kStudioPorts);
    if (!port &&
        (listening < web::kStudioPort || listening >= web::kStudioPort + web::kStudioPorts))
      std::cerr << "ports " << web::kStudioPort << "-" << web::kStudioPort + web::kStudioPorts - 1
                << " are all taken: sites' pages will not find the studio\n";
    std::cout << "Moviletta studio: " << bridge.PageUrl() << std::endl;
    start_control();
    while (!host.StopRequested()) host.ProcessPendingEvents(std::chrono::milliseconds(100));
  } catch (const std::exception& e) {
    std::cerr << "moviletta-studio: " << e.what() << "\n";
    status = 1;
  }
  bridge.Stop();
  site.Destroy();  // joins the engines' threads while the feeds they push to still exist
  if (!host.StopRequested()) pthread_kill(signal_watch.native_handle(), SIGTERM);
  signal_watch.join();
  return status;
}
