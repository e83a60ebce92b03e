// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/studio/bridge.h"

#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "host/access/secret.h"
#include "host/studio/json_variant.h"
#include "host/studio/server_threads.h"
#include "moviletta/ffmpeg/jpeg_writer.h"
#include "moviletta/ffmpeg/still_frame.h"

namespace moviletta::web {
namespace {

// The server's threads at most: every connection is served at once (the guard cuts slow ones).
constexpr std::size_t kServerThreads = 512;
constexpr int kStillQuality = 85;

using httplib::Request;
using httplib::Response;
using nlohmann::json;

json ErrorReply(const Error& error) {
  return {{"error", {{"number", error.number()}, {"description", error.description()}}}};
}

std::optional<std::string> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

const char* ContentType(const std::string& file) {
  if (file.ends_with(".js")) return "text/javascript; charset=utf-8";
  if (file.ends_with(".css")) return "text/css; charset=utf-8";
  return "text/html; charset=utf-8";
}

}  // namespace

Bridge::Bridge(WebHost& host, ControlSite& site, EventStream& stream, Windows windows,
               std::string web_root, std::string token)
    : host_(host),
      stream_(stream),
      windows_(windows),
      web_root_(std::move(web_root)),
      token_(std::move(token)),
      server_(std::make_unique<httplib::Server>()),
      driving_(host, stream),
      calls_(host, site, driving_, [this] { return GivingUp(); }) {}

Bridge::~Bridge() {
  Stop();
}

int Bridge::Start(int first_port, int count) {
  // Without the library's SO_REUSEPORT: a second studio must not share a port with the first.
  server_->set_socket_options([](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  for (int port = first_port; port > 0 && port < first_port + count && port_ <= 0; ++port)
    if (server_->bind_to_port("127.0.0.1", port)) port_ = port;
  if (port_ <= 0) port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw Error(err::kComponentFailed, "the studio cannot listen on 127.0.0.1");
  gate_.emplace(port_, token_, consent_);
  guard_.Start(port_);
  Routes();
  listener_ = std::thread([this] {
    try {
      server_->listen_after_bind();
    } catch (...) {  // reported below as not listening
    }
    listening_ended_ = true;
  });
  while (!server_->is_running() && !listening_ended_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!server_->is_running()) {
    Stop();
    throw Error(err::kComponentFailed, "the studio stopped listening on 127.0.0.1 at once");
  }
  return port_;
}

void Bridge::Stop() {
  if (!listener_.joinable()) return;
  stopping_ = true;  // calls that wait give up, so the server's threads end
  stream_.Close();   // ends the event and video streams, which would hold the server's threads
  windows_.capture.Close();
  windows_.player.Close();
  server_->stop();
  listener_.join();
  guard_.Stop();
}

std::string Bridge::PageUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + token_;
}

void Bridge::ServeSkinCatalogue(PlaceOf catalogue_url, HttpClientFactory& http) {
  catalogue_.emplace(std::move(catalogue_url), http);
}

void Bridge::OnRestart(std::function<void()> restart) {
  restart_ = std::move(restart);
}

void Bridge::StartupBegins(const std::string& why, const std::string& origin) {
  driving_.StartupBegins(origin);
  stream_.Publish("startup", {{"state", "starting"}, {"detail", why}});
}

void Bridge::StartupEnded(const std::optional<Error>& failure) {
  stream_.Publish("startup", failure ? json{{"state", "failed"}, {"detail", failure->description()}}
                                     : json{{"state", "ready"}});
  driving_.StartupEnded();
}

void Bridge::SessionEnded(const std::string& origin) {
  windows_.capture.Forget();
  windows_.player.Forget();
  driving_.SessionEnded(origin);
}

std::string Bridge::Caller(const Request& req) const {
  return gate_->Decide(Facts(req)).caller;
}

void Bridge::Routes() {
  httplib::Server& s = *server_;
  // One request a connection: after an answer the connection closes, so that the body of a
  // refused request is never read (the library would take it for the next request's line and
  // keep it all in memory).
  s.set_keep_alive_max_count(1);
  s.set_keep_alive_timeout(1);  // an idle connection holds a server thread no longer than this
  s.set_read_timeout(2);        // nor does a request that is slow to arrive
  s.set_payload_max_length(Gate::kMaxBodyBytes);
  s.set_default_headers({{"Referrer-Policy", "no-referrer"},  // the page's address holds the token
                         {"X-Frame-Options", "DENY"},         // nobody's page may frame a question
                         {"Content-Security-Policy", "frame-ancestors 'none'"}});
  // A call that runs inside a yield holds its server thread until the yield ends; the message
  // box acknowledgement that ends the yield, and the streams, must still find a free one.
  s.new_task_queue = [this] {
    return new ServerThreads(kServerThreads, [this] { guard_.Wake(); });
  };
  s.set_pre_routing_handler([this](const Request& req, Response& res) {
    if (!guard_.Admit(req.remote_port)) return httplib::Server::HandlerResponse::Handled;
    return Answered(req, res) ? httplib::Server::HandlerResponse::Handled
                              : httplib::Server::HandlerResponse::Unhandled;
  });
  const auto route = [this](void (Bridge::*handler)(const Request&, Response&)) {
    return [this, handler](const Request& req, Response& res) { (this->*handler)(req, res); };
  };
  s.Get("/", [this](const Request&, Response& res) { ServeFile("index.html", res); });
  s.Get("/consent", [this](const Request&, Response& res) { ServeFile("consent.html", res); });
  // The same answer: to any page at /identity, to a page whose token works at /hello.
  const auto studio = [](const Request&, Response& res) {
    res.set_content(R"({"studio": "moviletta"})", "application/json");
  };
  s.Get("/identity", studio);
  s.Get("/hello", studio);
  s.Get("/proof", [this](const Request& req, Response& res) {
    const std::string nonce = req.get_param_value("nonce");
    if (nonce.size() < 16 || nonce.size() > 128 ||
        nonce.find_first_not_of("0123456789abcdef") != std::string::npos)
      return void(res.status = 400);
    const std::string caller = Caller(req), &host = gate_->own_host();
    const std::optional<std::string> proof = caller.empty() ? Proof(token_, nonce, host)
                                             : consent_     ? consent_->Prove(caller, nonce, host)
                                                            : std::nullopt;
    if (!proof) return void(res.status = 403);
    res.set_header("Cache-Control", "no-store");
    res.set_content(JsonText(json{{"studio", "moviletta"}, {"proof", *proof}}), "application/json");
  });
  s.Get(R"(/web/([a-z]+\.(js|css)))",
        [this](const Request& req, Response& res) { ServeFile(req.matches[1], res); });
  s.Get(R"(/call/.*)", [](const Request&, Response& res) { res.status = 405; });
  s.Post(R"(/call/([A-Za-z]+))", route(&Bridge::CallMember));
  s.Get("/skins", [this](const Request& req, Response& res) {
    try {
      res.set_content(JsonText(catalogue_ ? catalogue_->List(Caller(req)) : json::array()),
                      "application/json");
    } catch (const Error&) {
      res.status = 502;  // the greeting server did not give its catalogue
    }
  });
  s.Get(R"(/skins/(-?\d{1,10})/picture)", route(&Bridge::ServeSkinPicture));
  s.Post("/claim", route(&Bridge::Claim));
  s.Post("/restart", [this](const Request& req, Response& res) {
    if (!restart_) return void(res.status = 404);
    if (!driving_.Drives(req.get_header_value("X-Moviletta-Page")) ||
        !driving_.SessionOf(Caller(req), false))
      return void(res.status = 409);
    host_.queue().Post(restart_);
    res.status = 202;
  });
  s.Post("/release", [this](const Request& req, Response& res) {
    driving_.Release(req.get_param_value("page"), Caller(req));
    res.status = 204;
  });
  s.Post(R"(/ack/(\d{1,19}))", [this](const Request& req, Response& res) {
    if (!DrivesSession(req)) return void(res.status = 409);  // another page's box
    res.status = host_.Acknowledge(std::stoull(req.matches[1])) ? 204 : 404;
  });
  s.Get(R"(/video/(capture|player))", route(&Bridge::StreamVideo));
  s.Get(R"(/video/(capture|player)/frame)", route(&Bridge::ServeFrame));
  s.Get("/take/snapshot", [this](const Request& req, Response& res) {
    const std::optional<std::string> still = req.has_param("from") ? StillOfRecording(req, res)
                                             : snapshot_file_
                                                 ? ReadWhole(snapshot_file_(Caller(req)))
                                                 : std::nullopt;
    if (!still) return void(res.status = res.status == 400 ? 400 : 404);
    res.set_header("Cache-Control", "no-store");
    res.set_content(*still, "image/jpeg");
  });
  s.Get("/events", route(&Bridge::StreamEvents));
  s.Get("/devices", [this](const Request&, Response& res) {
    if (!describe_devices_) return void(res.status = 404);
    res.set_content(JsonText(describe_devices_()), "application/json");
  });
  s.Post("/devices", route(&Bridge::ChooseDevices));
  s.Get("/sites", route(&Bridge::ManageSites));
  s.Post(R"(/sites/(allow|revoke))", route(&Bridge::ManageSites));
}

std::optional<std::string> Bridge::StillOfRecording(const Request& req, Response& res) {
  const std::string text = req.get_param_value("from");
  double from = 0;
  const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), from);
  if (failed != std::errc() || end != text.data() + text.size() || !std::isfinite(from)) {
    res.status = 400;
    return std::nullopt;
  }
  if (!recording_file_) return std::nullopt;
  try {
    return EncodeJpeg(StillAt(recording_file_(Caller(req)), from), kStillQuality);
  } catch (const Error&) {  // no recording yet, or one that cannot be read: none to show
    return std::nullopt;
  }
}

RequestFacts Bridge::Facts(const Request& req) {
  return {req.method,
          req.path,
          req.get_header_value("Host"),
          req.get_header_value("Origin"),
          req.has_param("token") ? req.get_param_value("token")
                                 : req.get_header_value("X-Moviletta-Token"),
          std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10)};
}

bool Bridge::Answered(const Request& req, Response& res) const {
  const Verdict verdict = gate_->Decide(Facts(req));
  if (!verdict.allow_origin.empty()) {
    res.set_header("Access-Control-Allow-Origin", verdict.allow_origin);
    res.set_header("Access-Control-Expose-Headers", "X-Frame, X-Last-Event");
    if (verdict.allow_origin != "*") res.set_header("Vary", "Origin");
  }
  switch (verdict.kind) {
    case Verdict::Kind::kAdmit:
    case Verdict::Kind::kPublic:
      return false;
    case Verdict::Kind::kPreflight:
      res.set_header("Access-Control-Allow-Methods", "GET, POST");
      res.set_header("Access-Control-Allow-Headers",
                     "Content-Type, X-Moviletta-Token, X-Moviletta-Page");
      // Chromium asks before a public site's page may reach this machine.
      if (req.get_header_value("Access-Control-Request-Private-Network") == "true")
        res.set_header("Access-Control-Allow-Private-Network", "true");
      res.set_header("Access-Control-Max-Age", "600");
      break;
    case Verdict::Kind::kRefuse:
      res.set_header("Connection", "close");  // a body it promised is never read
      break;
  }
  res.status = verdict.status;
  return true;
}

bool Bridge::StillAdmitted(const RequestFacts& facts) const {
  return gate_->Decide(facts).kind == Verdict::Kind::kAdmit;
}

void Bridge::ServeFile(const std::string& name, Response& res) const {
  if (const std::optional<std::string> bytes = ReadWhole(web_root_ + "/" + name))
    return res.set_content(*bytes, ContentType(name));
  res.status = 404;
}

void Bridge::CallMember(const Request& req, Response& res) {
  const std::string kind_text = req.get_param_value("kind");
  const MemberKind kind = kind_text == "get"   ? MemberKind::kPropertyGet
                          : kind_text == "put" ? MemberKind::kPropertyPut
                                               : MemberKind::kMethod;
  const CallDispatcher::Answer answer = calls_.Call(
      Caller(req), req.get_header_value("X-Moviletta-Page"), req.matches[1], kind, req.body);
  res.status = answer.status;
  if (answer.status == 503) res.set_header("Retry-After", "1");
  if (!answer.body.empty()) res.set_content(answer.body, "application/json");
}

void Bridge::ServeSkinPicture(const Request& req, Response& res) {
  const std::string id = req.matches[1];
  int32_t skin = 0;
  if (!catalogue_ || std::from_chars(id.data(), id.data() + id.size(), skin).ec != std::errc())
    return void(res.status = 404);
  try {
    const std::optional<std::string> picture = catalogue_->Picture(Caller(req), skin);
    if (!picture) return void(res.status = 404);
    res.set_header("Cache-Control", "max-age=3600");
    res.set_content(*picture, "image/gif");
  } catch (const Error&) {
    res.status = 502;
  }
}

void Bridge::Claim(const Request& req, Response& res) {
  const std::string page = req.get_param_value("page");
  if (page.empty() || page.size() > 64) return void(res.status = 400);
  res.status =
      driving_.Claim(page, Caller(req), req.get_param_value("takeover") == "1") ? 204 : 409;
}

bool Bridge::DrivesSession(const Request& req) {
  return driving_.DrivesSession(req.get_header_value("X-Moviletta-Page"), Caller(req));
}

void Bridge::ServeSites(SiteConsent& consent, std::function<json(const std::string&)> describe,
                        std::function<void(const std::string&, bool)> revoked) {
  consent_ = &consent;
  driving_.TellSitesOf(&consent);
  describe_site_ = std::move(describe);
  revoked_site_ = std::move(revoked);
}

void Bridge::ManageSites(const Request& req, Response& res) {
  if (!consent_ || !gate_->OwnPage(req.get_header_value("Origin")) || !Caller(req).empty())
    return void(res.status = 403);  // a site cannot allow itself
  if (req.method == "GET") {
    json sites = json::array();
    for (const std::string& origin : consent_->Origins()) {
      json site = describe_site_ ? describe_site_(origin) : json::object();
      site["origin"] = origin;
      sites.push_back(std::move(site));
    }
    return res.set_content(JsonText(json{{"sites", sites}}), "application/json");
  }
  const std::string site = req.get_param_value("origin");
  if (req.matches[1] == "revoke") {
    res.status = consent_->Revoke(site) ? 204 : 404;
    if (res.status == 204 && revoked_site_)
      host_.queue().Post([this, site, forget = req.get_param_value("forget") == "1"] {
        revoked_site_(site, forget);
      });
  } else {
    const std::optional<std::string> canonical = SiteConsent::Canonical(site);
    if (!canonical) return void(res.status = 400);
    try {
      const std::string token = consent_->Allow(*canonical, req.get_param_value("server"));
      res.set_content(JsonText(json{{"origin", *canonical}, {"token", token}}), "application/json");
    } catch (const Error& error) {
      res.status = error.number() == err::kInvalidArgument ? 400 : 500;
      return res.set_content(JsonText(ErrorReply(error)), "application/json");
    }
  }
  stream_.PublishTo("", "sites", json::object());  // which: GET /sites, the studio's page only
}

void Bridge::ChooseDevices(const Request& req, Response& res) {
  if (!choose_devices_) return void(res.status = 404);
  if (!DrivesSession(req)) return void(res.status = 409);
  try {
    choose_devices_(json::parse(req.body, nullptr, /*allow_exceptions=*/false));
    res.status = 204;
  } catch (const Error& error) {
    res.status = error.number() == err::kInvalidArgument ? 400 : 500;
    res.set_content(JsonText(ErrorReply(error)), "application/json");
  }
}

}  // namespace moviletta::web
