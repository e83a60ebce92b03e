// SPDX-License-Identifier: GPL-3.0-or-later
// moviletta-cli: runs the control in a headless host with its real components, calls members by
// name and prints what the control does. `--help` lists the options.
#include <CLI/CLI.hpp>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "moviletta/capture/ffmpeg_capture_device.h"
#include "moviletta/capture/ffmpeg_player.h"
#include "moviletta/control/control_site.h"
#include "moviletta/control/headless_host.h"
#include "moviletta/control/memory_panel.h"
#include "moviletta/control/memory_progress_bar.h"
#include "moviletta/dispatch/curl_mail_sender.h"
#include "moviletta/encoding/ffmpeg_video_editor.h"
#include "moviletta/skins/skin_cache.h"

namespace {

using namespace moviletta;

std::vector<Variant> SplitArguments(const std::string& text) {
  std::vector<Variant> args;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find('|', start);
    args.emplace_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return args;
}

void Print(std::string_view what, const CallOutcome& outcome) {
  if (outcome.error)
    std::cout << what << ": script error " << outcome.error->number() << ": "
              << outcome.error->description() << "\n";
  else
    std::cout << what << " = " << outcome.value.ToText() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::cout << std::unitbuf;
  ControlConfig config;
  CaptureOptions capture;
  std::vector<std::string> calls;
  CLI::App app(
      "Creates the control (start-up against the greeting server), calls each MEMBER in turn "
      "through the dispatch table and prints the events and results. Property reads: "
      "ClientStatus, ErrMsg, Miror, SkinPath; write: Miror=True. Wait=SECONDS processes the "
      "host's events for that long.",
      "moviletta-cli");
  app.set_version_flag("--version", std::string("moviletta-cli ") + MOVILETTA_VERSION);
  app.failure_message(CLI::FailureMessage::help);
  app.add_option("--server", config.server_address, "the greeting server's address")
      ->capture_default_str();
  app.add_option("--app-dir", config.app_directory, "the application folder")
      ->required()
      ->check(CLI::Validator(
          [](const std::string& folder) { return folder.empty() ? "must not be empty" : ""; },
          "FOLDER"));
  std::string camera = "auto";
  app.add_option("--camera", camera, "auto, synthetic (a test picture) or a device")
      ->capture_default_str();
  app.add_option("MEMBER", calls, "MEMBER, MEMBER=ARG or MEMBER=ARG|ARG|...");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (camera == "synthetic")
    capture.source = CaptureOptions::Source::kSynthetic;
  else if (camera != "auto")
    capture.source = CaptureOptions::Source::kCamera, capture.camera.name = camera;

  HeadlessHost host;
  ModuleState module;
  ControlSite site(host, host.queue(), module);
  host.on_event = [&](ControlEvent event) {
    Movilettas* control = site.control();
    if (event == ControlEvent::StatusChanged)
      std::cout << "event StatusChanged: ClientStatus = " << control->ClientStatus() << "\n";
    else
      std::cout << "event ErrMsgChanged: ErrMsg = \"" << control->ErrMsg() << "\"\n";
  };
  host.on_message_box = [](std::string_view text) { std::cout << "message box: " << text << "\n"; };
  host.on_dropped_failure = [](const Error& e) {
    std::cout << "notification failed: " << e.number() << ": " << e.description() << "\n";
  };

  Components components;
  components.VideoCapX1 = std::make_unique<FfmpegCaptureDevice>(capture);
  components.VideoCapX2 = std::make_unique<FfmpegPlayer>();
  components.VideoEdit1 = std::make_unique<FfmpegVideoEditor>();
  components.CreateMailSender = CurlMailSenderFactory();
  auto progress = std::make_unique<MemoryProgressBar>();
  progress->on_change = [bar = progress.get(), last = std::string()]() mutable {
    if (bar->text != last && !bar->text.empty()) std::cout << "progress: " << bar->text << "\n";
    last = bar->text;
  };
  auto panel = std::make_unique<MemoryPanel>();
  panel->on_change = [shown = panel.get()] {
    std::cout << "panel " << (shown->visible ? "shown" : "hidden") << "\n";
  };
  components.vbalProgressBar1 = std::move(progress);
  components.picGeneral = std::move(panel);

  std::cout << "greeting server: " << config.server_address << "\n"
            << "application folder: " << config.app_directory << "\n";
  try {
    SkinCache::MakeFolders(config.app_directory);  // the visitor's alone, whatever the umask
  } catch (const Error& e) {
    std::cerr << "moviletta-cli: " << e.description() << "\n";
    return 1;
  }
  if (auto failure = site.Create(std::move(components), config, /*new_instance=*/true))
    std::cout << "start-up: script error " << failure->number() << ": " << failure->description()
              << "\n";
  if (!site.control()) return 1;  // it could not be made at all: said above
  std::cout << "ClientStatus = " << site.control()->ClientStatus() << "\n";

  for (const std::string& call : calls) {
    const std::size_t eq = call.find('=');
    const std::string name = call.substr(0, eq);
    if (name == "Wait") {
      site.control()->Wait(Variant(eq == std::string::npos ? "1" : call.substr(eq + 1)));
      continue;
    }
    std::vector<Variant> args =
        eq == std::string::npos ? std::vector<Variant>{} : SplitArguments(call.substr(eq + 1));
    MemberKind kind = MemberKind::kMethod;
    if (!FindMember(name, kind))
      kind = eq == std::string::npos ? MemberKind::kPropertyGet : MemberKind::kPropertyPut;
    Print(name, site.Call(name, kind, std::move(args)));
    host.ProcessPendingEvents(std::chrono::milliseconds(0));
  }
  if (auto failure = site.Destroy())
    std::cout << "shutdown: script error " << failure->number() << ": " << failure->description()
              << "\n";
  return 0;
}
