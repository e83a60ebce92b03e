// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/intake/intake_door.h"

#include <signal.h>
#include <sodium.h>

#include <cerrno>
#include <filesystem>
#include <iostream>

#include "moviletta/common/error.h"
#include "moviletta/common/file_write.h"
#include "service/web/secrets.h"

namespace moviletta::service {
namespace {

constexpr const char* kSource = "IntakeDoor";

}  // namespace

IntakeDoor::IntakeDoor(Greetings& greetings, std::string data, Clock clock, IntakeLimits limits)
    : greetings_(greetings),
      data_(std::move(data)),
      clock_(std::move(clock)),
      limits_(std::move(limits)) {}

IntakeDoor::~IntakeDoor() {
  Close();
}

void IntakeDoor::Open() {
  token_ = RandomHex(16);
  // One byte past the limit reaches the intake, which refuses the mail naming the limit.
  server_.set_payload_max_length(limits_.mail_bytes + 1);
  server_.set_read_timeout(60, 0);
  // The token is checked before the mail is read: a caller without it costs no mail's memory
  // or time.
  server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const std::string given = req.get_header_value(kDoorTokenHeader);
    if (given.size() == token_.size() && !sodium_memcmp(given.data(), token_.data(), given.size()))
      return httplib::Server::HandlerResponse::Unhandled;
    res.status = 403;
    return httplib::Server::HandlerResponse::Handled;
  });
  server_.Post("/mail",
               [this](const httplib::Request& req, httplib::Response& res) { Take(req, res); });
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw Error(75, "cannot listen on 127.0.0.1 for mails", kSource);
  listener_ = std::thread([this] {
    try {
      server_.listen_after_bind();
    } catch (const std::exception& e) {
      std::cerr << "moviletta-greetings: the door for mails failed: " << e.what() << "\n";
    } catch (...) {
      std::cerr << "moviletta-greetings: the door for mails failed\n";
    }
    listening_ended_ = true;
  });
  // Listening before the file tells of it (and before a Close could miss the server's start).
  while (!server_.is_running() && !listening_ended_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!server_.is_running()) {
    listener_.join();
    throw Error(75, "the door for mails stopped listening at once", kSource);
  }
  MakeOwnFolder(DoorFolder(data_), kSource);
  // The doors of this host's nodes that are gone (killed: they could not take theirs away).
  for (const Door& door : DoorsOfThisHost(data_))
    if (door.pid > 0 && ::kill(static_cast<pid_t>(door.pid), 0) != 0 && errno == ESRCH) {
      std::error_code ignored;
      std::filesystem::remove(door.file, ignored);
    }
  file_ = DoorFileOfThisProcess(data_);
  WriteFileWhole(file_, DoorText({port_, token_, file_}), kSource, false, true);
}

void IntakeDoor::Close() {
  if (!file_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
    file_.clear();
  }
  if (listener_.joinable()) {
    server_.stop();
    listener_.join();
  }
}

void IntakeDoor::Take(const httplib::Request& req, httplib::Response& res) {
  Intake intake(greetings_, data_, clock_, limits_);
  const IntakeOutcome outcome =
      intake.Deliver(req.body, req.get_param_value("recipient"), req.get_param_value("site"));
  res.set_content(std::to_string(outcome.status) + " " + outcome.reason, "text/plain");
}

}  // namespace moviletta::service
