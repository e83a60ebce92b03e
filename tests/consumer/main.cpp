// SPDX-License-Identifier: GPL-3.0-or-later
// A host of the greeting control: creates it against a greeting server, with the real components
// and the synthetic camera, and tells whether it is ready. Usage: greeting-host SERVER FOLDER
#include <moviletta/capture/ffmpeg_capture_device.h>
#include <moviletta/capture/ffmpeg_player.h>
#include <moviletta/control/control_site.h>
#include <moviletta/control/headless_host.h>
#include <moviletta/dispatch/curl_mail_sender.h>
#include <moviletta/encoding/ffmpeg_video_editor.h>

#include <iostream>

int main(int argc, char** argv) {
  using namespace moviletta;
  if (argc != 3) return std::cerr << "usage: greeting-host SERVER FOLDER\n", 2;
  HeadlessHost host;
  ModuleState module;
  ControlSite site(host, host.queue(), module);
  Components parts;
  parts.VideoCapX1 = std::make_unique<FfmpegCaptureDevice>(
      CaptureOptions{.source = CaptureOptions::Source::kSynthetic});
  parts.VideoCapX2 = std::make_unique<FfmpegPlayer>();
  parts.VideoEdit1 = std::make_unique<FfmpegVideoEditor>();
  parts.CreateMailSender = CurlMailSenderFactory();
  const ControlConfig config{.server_address = argv[1], .app_directory = argv[2]};
  if (const std::optional<Error> failure = site.Create(std::move(parts), config, true))
    return std::cerr << "start-up failed: " << failure->description() << "\n", 1;
  std::cout << "ClientStatus = " << site.control()->ClientStatus() << "\n";
  return site.control()->ClientStatus() == 1 ? 0 : 1;
}
