// SPDX-License-Identifier: GPL-3.0-or-later
// greeting-server: a reference greeting server for the demo and for trying the control out.
//
//   greeting-server --data DIR [--port N] [--site DIR --client DIR [--site-port N]]
//
// Serves on 127.0.0.1: /clientSettings.asp (DIR/settings.xml, with "${SERVER}" replaced by this
// server's own address), /register.asp and /clientErrLog.asp (each request appended, decoded, to
// DIR/log.txt; /log lists it), /skinType.asp (the answer for lSkinID from DIR/skins/catalogue.txt,
// lines "<id>,<answer>"; "NONE" for others), the skin pictures below /skins/ (DIR/skins/files)
// and /skinCatalogue.asp, the skins a visitor may choose: lines "<id>,<name>,<first picture's URL>"
// for the skins DIR/skins/names.txt names (lines "<id>,<name>").
// With --site, a greeting site's pages too, on a port (an origin) of their own: the files of the
// site folder, the studio's client script (moviletta.js of the client folder) as /moviletta.js,
// and the greeting service again (the site's origin is its greeting server). Prints "SITE <port>"
// and then "READY <port>" once it listens.
#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

httplib::Server* running = nullptr;
httplib::Server* site_running = nullptr;

void StopBoth(int) {
  running->stop();
  if (site_running) site_running->stop();
}

}  // namespace

int main(int argc, char** argv) {
  fs::path data, site, client;
  int port = 0, site_port = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--data") data = argv[i + 1];
    if (arg == "--port") port = std::stoi(argv[i + 1]);
    if (arg == "--site") site = argv[i + 1];
    if (arg == "--client") client = argv[i + 1];
    if (arg == "--site-port") site_port = std::stoi(argv[i + 1]);
  }
  if (data.empty() || site.empty() != client.empty()) {
    std::cerr << "usage: greeting-server --data DIR [--port N] [--site DIR --client DIR "
                 "[--site-port N]]\n";
    return 2;
  }

  httplib::Server server;
  server.set_tcp_nodelay(true);
  std::string address;
  std::mutex log_mutex;
  const auto log = [&](const char* what, const httplib::Request& req) {
    std::lock_guard lock(log_mutex);
    std::ofstream out(data / "log.txt", std::ios::app);
    out << what;
    for (const auto& [key, value] : req.params) {
      std::string flat = value;
      for (char& c : flat)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
      out << '\t' << key << '=' << flat;
    }
    out << '\n';
  };

  // The greeting service, on its own port and on the site's: a site's origin is its greeting
  // server too.
  const auto serve_greetings = [&](httplib::Server& s) {
    s.Get("/clientSettings.asp", [&](const httplib::Request&, httplib::Response& res) {
      std::string settings = Read(data / "settings.xml");
      for (std::size_t at; (at = settings.find("${SERVER}")) != std::string::npos;)
        settings.replace(at, 9, address);
      res.set_content(settings, "text/xml");
    });
    s.Get("/register.asp", [&](const httplib::Request& req, httplib::Response& res) {
      log("register", req);
      res.set_content("OK", "text/plain");
    });
    s.Get("/clientErrLog.asp", [&](const httplib::Request& req, httplib::Response& res) {
      log("error", req);
      res.set_content("OK", "text/plain");
    });
    s.Get("/log", [&](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(log_mutex);
      res.set_content(Read(data / "log.txt"), "text/plain");
    });
    s.Get("/skinType.asp", [&](const httplib::Request& req, httplib::Response& res) {
      const std::string id = req.get_param_value("lSkinID") + ",";
      std::istringstream catalogue(Read(data / "skins" / "catalogue.txt"));
      std::string answer = "NONE";
      for (std::string line; std::getline(catalogue, line);)
        if (line.rfind(id, 0) == 0) answer = line.substr(id.size());
      res.set_content(answer, "text/plain");
    });
    s.Get("/skinCatalogue.asp", [&](const httplib::Request&, httplib::Response& res) {
      std::map<std::string, std::string> answers;  // id: the skin-type answer
      std::istringstream catalogue(Read(data / "skins" / "catalogue.txt"));
      for (std::string line; std::getline(catalogue, line);)
        if (const auto comma = line.find(','); comma != std::string::npos)
          answers[line.substr(0, comma)] = line.substr(comma + 1);
      std::istringstream names(Read(data / "skins" / "names.txt"));
      std::string listed;
      for (std::string line; std::getline(names, line);) {
        const auto comma = line.find(',');
        if (comma == std::string::npos || !answers.count(line.substr(0, comma))) continue;
        const std::string& answer =
            answers[line.substr(0, comma)];  // SKIN,<path>,<n> or STATIC,<file>
        const auto path_at = answer.find(',') + 1, path_end = answer.find(',', path_at);
        const std::string picture = answer.substr(path_at, path_end - path_at) +
                                    (answer.starts_with("SKIN,") ? "1.gif" : "");
        listed += line + "," + address + "/skins/" + picture + "\n";
      }
      res.set_content(listed, "text/plain");
    });
    return s.set_mount_point("/skins", (data / "skins" / "files").string());
  };
  if (!serve_greetings(server)) {
    std::cerr << "greeting-server: no folder " << (data / "skins" / "files") << "\n";
    return 1;
  }

  port = port > 0 && server.bind_to_port("127.0.0.1", port) ? port
                                                            : server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::cerr << "greeting-server: cannot listen\n";
    return 1;
  }
  address = "http://127.0.0.1:" + std::to_string(port);

  httplib::Server site_server;
  std::thread site_thread;
  if (!site.empty()) {
    serve_greetings(site_server);
    site_server.Get("/moviletta.js", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(Read(client / "moviletta.js"), "text/javascript; charset=utf-8");
    });
    if (!site_server.set_mount_point("/", site.string())) {
      std::cerr << "greeting-server: no folder " << site << "\n";
      return 1;
    }
    site_port = site_port > 0 && site_server.bind_to_port("127.0.0.1", site_port)
                    ? site_port
                    : site_server.bind_to_any_port("127.0.0.1");
    if (site_port <= 0) {
      std::cerr << "greeting-server: cannot listen for the site\n";
      return 1;
    }
    site_running = &site_server;
    site_thread = std::thread([&] {
      try {
        site_server.listen_after_bind();
      } catch (const std::exception& e) {
        std::cerr << "greeting-server: the site stopped: " << e.what() << "\n";
      }
    });
    std::cout << "SITE " << site_port << std::endl;
  }
  running = &server;
  std::signal(SIGTERM, StopBoth);
  std::signal(SIGINT, StopBoth);
  std::cout << "READY " << port << std::endl;
  server.listen_after_bind();
  site_server.stop();
  if (site_thread.joinable()) site_thread.join();
}
