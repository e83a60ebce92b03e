// SPDX-License-Identifier: GPL-3.0-or-later
// moviletta-deliver: what the site's mail server runs for each mail to the greeting service's
// mail drop, with the options of `moviletta-greetings deliver`. It hands the mail to a node of the
// service running on this host, through the node's door (see IntakeDoor), so that the mail is
// taken in by a process that has its libraries loaded and its database connection open; where no
// node answers, it runs `moviletta-greetings deliver` (beside it) with the mail. It ends as
// deliver does: 0 taken in, 65 never a greeting, 75 later (the mail server keeps the mail).
//
//   moviletta-deliver --data DIR [--database URL] [--recipient ADDRESS] [--site HOST] < mail
//
// It links no media or database library: it starts in a few milliseconds.
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "service/intake/door_file.h"

namespace {

using namespace moviletta::service;

constexpr int kLater = 75;

// The mail on standard input, up to one byte past the limit (which the intake refuses).
std::optional<std::string> ReadMail() {
  std::string mail;
  char chunk[64 * 1024];
  while (mail.size() <= kMailBytesLimit) {
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got == 0) return mail;
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    mail.append(chunk, static_cast<std::size_t>(got));
  }
  mail.resize(kMailBytesLimit + 1);
  return mail;
}

// How the node behind `door` ended the mail ("<status> <reason>"), or nothing when it did not
// answer as a door does.
std::optional<std::pair<int, std::string>> HandTo(const Door& door, const std::string& mail,
                                                  const std::string& recipient,
                                                  const std::string& site) {
  httplib::Client node("127.0.0.1", door.port);
  node.set_connection_timeout(1, 0);
  node.set_read_timeout(900, 0);  // a big mail's checks; the mail server has its own limit
  const std::string path = "/mail?recipient=" + httplib::detail::encode_query_param(recipient) +
                           "&site=" + httplib::detail::encode_query_param(site);
  const httplib::Result answer =
      node.Post(path, {{kDoorTokenHeader, door.token}}, mail, "message/rfc822");
  if (!answer || answer->status != 200) return std::nullopt;
  int status = -1;
  int length = 0;
  if (std::sscanf(answer->body.c_str(), "%d %n", &status, &length) != 1 || status < 0)
    return std::nullopt;
  return std::pair(status, answer->body.substr(static_cast<std::size_t>(length)));
}

// `moviletta-greetings deliver` with our options, the mail on its standard input; its status.
int DeliverHere(char** argv, const std::string& mail) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::string program = (self.parent_path() / "moviletta-greetings").string();
  std::vector<char*> args = {const_cast<char*>("moviletta-greetings"),
                             const_cast<char*>("deliver")};
  for (char** arg = argv + 1; *arg; ++arg) args.push_back(*arg);
  args.push_back(nullptr);
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return kLater;
  const pid_t child = ::fork();
  if (child < 0) return kLater;
  if (child == 0) {
    ::dup2(pipe_ends[0], STDIN_FILENO);
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    ::execv(program.c_str(), args.data());
    std::fprintf(stderr, "moviletta-deliver: cannot run %s\n", program.c_str());
    ::_exit(kLater);
  }
  ::close(pipe_ends[0]);
  // The program may stop reading early (a mail it refuses): the rest is not needed.
  for (std::size_t sent = 0; sent < mail.size();) {
    const ssize_t wrote = ::write(pipe_ends[1], mail.data() + sent, mail.size() - sent);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    sent += static_cast<std::size_t>(wrote);
  }
  ::close(pipe_ends[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : kLater;
}

}  // namespace

int main(int argc, char** argv) {
  ::umask(077);
  ::signal(SIGPIPE, SIG_IGN);
  CLI::App app("Hands one mail of the mail drop to the greeting service.", "moviletta-deliver");
  std::string data, database, recipient, site;
  app.add_option("--data", data, "the service's data folder")->required();
  app.add_option("--database", database, "the database (for deliver, when no node answers)");
  app.add_option("--recipient", recipient, "the address the mail was for");
  app.add_option("--site", site, "the site it is for (default: by --recipient)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  try {
    const std::optional<std::string> mail = ReadMail();
    if (!mail) {
      std::cerr << "moviletta-deliver: cannot read the mail\n";
      return kLater;
    }
    for (const Door& door : DoorsOfThisHost(data))
      if (const auto outcome = HandTo(door, *mail, recipient, site)) {
        (outcome->first == 0 ? std::cout : std::cerr)
            << "moviletta-greetings: " << outcome->second << std::endl;
        return outcome->first;
      }
    return DeliverHere(argv, *mail);
  } catch (const std::exception& e) {
    std::cerr << "moviletta-deliver: " << e.what() << "\n";
    return kLater;
  }
}
