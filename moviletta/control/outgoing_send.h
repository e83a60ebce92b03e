// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "moviletta/dispatch/mail_sender.h"
#include "moviletta/encoding/video_editor.h"

namespace moviletta {

// One compression of the recording by the editing component. Sends that ask for the same
// recording with the same settings while it runs share it. Host thread only.
struct CompressionJob {
  EditJobId id = 0;     // the editing component's number for it; 0 when it never started
  std::string key;      // the recording's file identity and the output settings
  std::string output;   // the file it writes
  bool done = false;    // it completed: the send paths' m_CompressionDone
  bool failed = false;  // it could not start, or it failed
  bool ended() const { return done || failed; }
};

// One send the control accepted (a greeting or a mobile e-mail), from its start to its result.
// It owns its mail sender and a folder of its own holding the files it mails, frozen when they
// are final so that nothing the page does next changes the mail. Host thread only.
struct OutgoingSend {
  uint64_t id = 0;
  std::string folder;                  // "<app>/.sends/<id>/", removed with the send
  std::unique_ptr<MailSender> sender;  // its own poSendMail
  std::shared_ptr<const CompressionJob> job;
  bool mailing = false;      // Send was called and the result is due
  std::string outbox_entry;  // where its mail is kept until its result is a success
  bool unkept = false;       // too large for the outbox: a failure says so
  bool resent = false;       // its mail comes from the outbox and stays there unless it goes
  bool cancelled = false;    // the person cancelled it before its mail started
};

}  // namespace moviletta
