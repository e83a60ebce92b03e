// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "moviletta/capture/capture_device.h"
#include "moviletta/capture/video_player.h"
#include "moviletta/common/constants.h"
#include "moviletta/control/panel.h"
#include "moviletta/control/progress_bar.h"
#include "moviletta/dispatch/mail_sender.h"
#include "moviletta/encoding/video_editor.h"
#include "moviletta/outbox/outbox.h"
#include "moviletta/server/byte_stream.h"
#include "moviletta/server/http_client.h"
#include "moviletta/server/identity.h"
#include "moviletta/skins/picture_slots.h"
#include "moviletta/xml/xml_document.h"

namespace moviletta {

// The outside components a control works with; the control owns them.
struct Components {
  std::unique_ptr<CaptureDevice> VideoCapX1;
  std::unique_ptr<VideoPlayer> VideoCapX2;
  std::unique_ptr<VideoEditor> VideoEdit1;
  std::unique_ptr<ProgressBar> vbalProgressBar1;
  std::unique_ptr<Panel> picGeneral;
  MailSenderFactory CreateMailSender;
  std::unique_ptr<HttpClientFactory> http;
  std::unique_ptr<XmlDocumentFactory> xml;
  std::unique_ptr<ByteStreamFactory> streams;
  VolumeSerialSource volume_serial = RootVolumeSerial;
};

// Fills in the real HTTP (libcurl), XML (pugixml) and file components, and a progress bar and
// panel kept in memory, where `components` has none. The capture, player, editing and mail
// components are the caller's.
Components WithStandardComponents(Components components, HttpOptions http_options = {});

// Where the control finds its greeting server and keeps its files.
struct ControlConfig {
  std::string server_address{kDefaultServerAddress};
  // The host's own folder for the control's files (skins, the outbox, the recording); a control
  // without one does not start.
  std::string app_directory{};
  // The most memory the decoded pictures of the skins may take.
  std::size_t skin_budget_bytes = PictureSlots::kDefaultBudgetBytes;
  // The most greetings, and bytes, the outbox keeps.
  OutboxLimits outbox_limits{};
};

}  // namespace moviletta
