// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/web/watch_routes.h"

#include <httplib.h>

#include <ctime>
#include <fstream>
#include <memory>

#include "service/web/field_text.h"

namespace moviletta::service {
namespace {

namespace fs = std::filesystem;
using httplib::Request;
using httplib::Response;

constexpr const char* kToken = "([0-9a-f]{48})";
constexpr const char* kGone = "This greeting is no longer available.";

constexpr const char* kScript =
    R"js(// Tells the service once that the greeting was watched: 5 s played, or played to its end.
const video = document.querySelector("video");
let told = false;
function tell() {
  if (told) return;
  told = true;
  fetch(location.pathname + "/watched", { method: "POST" }).catch(() => { told = false; });
}
video.addEventListener("timeupdate", () => { if (video.currentTime >= 5) tell(); });
video.addEventListener("ended", tell);
)js";

void Html(Response& res, int status, const std::string& title, const std::string& body) {
  res.status = status;
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; script-src 'self'; media-src 'self'; img-src 'self'; "
                 "style-src 'unsafe-inline'; form-action 'self'; connect-src 'self'");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Cache-Control", "no-store");
  res.set_content(
      "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
      "content=\"width=device-width, initial-scale=1\"><meta name=\"robots\" content=\"noindex\">"
      "<title>" +
          HtmlEscaped(title) +
          "</title><style>body{font-family:sans-serif;max-width:48rem;margin:1rem auto;padding:"
          "0 1rem}video{width:100%;background:#000}textarea{width:100%}</style></head><body>" +
          body + "</body></html>",
      "text/html; charset=utf-8");
}

std::string Date(Time at) {
  const std::time_t t = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%d %B %Y", &utc);
  return text;
}

// A file of the greeting's folder, served with range requests.
void ServeFile(Response& res, const fs::path& path, const char* type) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) {
    res.status = 404;
    return;
  }
  auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
  res.set_header("Cache-Control", "private, max-age=3600");
  res.set_content_provider(static_cast<std::size_t>(size), type,
                           [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                             char buffer[64 * 1024];
                             file->seekg(static_cast<std::streamoff>(offset));
                             while (length > 0) {
                               const std::size_t n = std::min(length, sizeof buffer);
                               if (!file->read(buffer, static_cast<std::streamsize>(n)))
                                 return false;
                               if (!sink.write(buffer, n)) return false;
                               length -= n;
                             }
                             return true;
                           });
}

}  // namespace

void DeleteGreeting(Greetings& greetings, const fs::path& data, const Greeting& greeting, Time at) {
  greetings.Forget(greeting.id, at);
  std::error_code ignored;
  fs::remove_all(data / "media" / greeting.token, ignored);
}

void WatchRoutes::Register(httplib::Server& server) {
  // The greeting the address names, if it may be shown; otherwise the answer is made.
  const auto shown = [this](const Request& req, Response& res) -> std::optional<Greeting> {
    std::optional<Greeting> greeting = greetings_.ByToken(req.matches[1]);
    if (!greeting) {
      Html(res, 404, "Not found", "<p>There is no greeting at this address.</p>");
      return std::nullopt;
    }
    if (greeting->state == "deleted") {
      Html(res, 410, kGone, std::string("<p>") + kGone + "</p>");
      return std::nullopt;
    }
    if (greeting->hidden) {
      Html(res, 403, "Hidden",
           "<p>This greeting was reported and is hidden until the site's owner has looked at "
           "it.</p>");
      return std::nullopt;
    }
    return greeting;
  };

  server.Get("/watch/watch.js", [](const Request&, Response& res) {
    res.set_content(kScript, "text/javascript; charset=utf-8");
  });

  server.Get(std::string("/watch/") + kToken, [shown](const Request& req, Response& res) {
    const std::optional<Greeting> g = shown(req, res);
    if (!g) return;
    const std::string base = "/watch/" + g->token;
    const std::string from = HtmlEscaped(g->sender_name.empty() ? "Someone" : g->sender_name);
    std::string body =
        "<h1>A video greeting from " + from + "</h1><p>" + Date(g->taken_at) + "</p>";
    if (g->state == "taken") {
      res.set_header("Refresh", "5");
      body += "<p>The greeting is being prepared; this page shows it in a moment.</p>";
    } else {
      body += "<video controls playsinline preload=\"metadata\" poster=\"" + base +
              "/poster.jpg\" src=\"" + base + "/video.mp4\"></video>";
    }
    if (!g->message.empty()) body += "<blockquote>" + HtmlEscaped(g->message) + "</blockquote>";
    if (req.has_param("replied")) body += "<p role=\"status\">Your reply was sent.</p>";
    if (req.has_param("reported"))
      body += "<p role=\"status\">Thank you; the site's owner will look at it.</p>";
    body += "<form method=\"post\" action=\"" + base + "/reply\"><label for=\"reply\">Reply to " +
            from +
            "</label><textarea id=\"reply\" name=\"text\" rows=\"3\" maxlength=\"2000\" "
            "required></textarea><button>Send the reply</button></form>"
            "<form method=\"post\" action=\"" +
            base + "/report\"><button>Report this greeting</button></form>" +
            "<script src=\"/watch/watch.js\"></script>";
    Html(res, 200, "A video greeting from " + g->sender_name, body);
  });

  server.Get(std::string("/watch/") + kToken + "/video.mp4",
             [this, shown](const Request& req, Response& res) {
               if (const std::optional<Greeting> g = shown(req, res))
                 ServeFile(res, data_ / "media" / g->token / "web.mp4", "video/mp4");
             });
  server.Get(std::string("/watch/") + kToken + "/poster.jpg",
             [this, shown](const Request& req, Response& res) {
               if (const std::optional<Greeting> g = shown(req, res))
                 ServeFile(res, data_ / "media" / g->token / "poster.jpg", "image/jpeg");
             });

  server.Post(std::string("/watch/") + kToken + "/watched",
              [this, shown](const Request& req, Response& res) {
                const std::optional<Greeting> g = shown(req, res);
                if (!g) return;
                if (greetings_.Watched(g->id, clock_()))
                  greetings_.AddJob(g->id, "watched", clock_());
                res.status = 204;
              });
  server.Post(std::string("/watch/") + kToken + "/reply",
              [this, shown](const Request& req, Response& res) {
                const std::optional<Greeting> g = shown(req, res);
                if (!g) return;
                const std::string text = KeptText(req.get_param_value("text"));
                if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
                  Html(res, 400, "No reply", "<p>The reply is empty.</p>");
                  return;
                }
                const int64_t reply = greetings_.AddReply(g->id, clock_(), text);
                greetings_.AddJob(g->id, "reply-" + std::to_string(reply), clock_());
                res.set_redirect("/watch/" + g->token + "?replied=1", 303);
              });
  server.Post(std::string("/watch/") + kToken + "/report",
              [this, shown](const Request& req, Response& res) {
                const std::optional<Greeting> g = shown(req, res);
                if (!g) return;
                greetings_.Report(g->id, hide_after_);
                res.set_redirect("/watch/" + g->token + "?reported=1", 303);
              });

  const auto deletion = [this](const Request& req, Response& res) -> std::optional<Greeting> {
    std::optional<Greeting> g = greetings_.ByDeleteToken(req.matches[1]);
    if (!g || g->state == "deleted") {
      Html(res, 410, kGone, std::string("<p>") + kGone + "</p>");
      return std::nullopt;
    }
    return g;
  };
  // A link opened by a mail program's preview must not delete: the page asks first.
  server.Get(std::string("/watch/delete/") + kToken, [deletion](const Request& req, Response& res) {
    if (!deletion(req, res)) return;
    Html(res, 200, "Delete the greeting",
         "<p>Delete this greeting for everyone? Its video, its poster and its "
         "message are removed at once.</p><form method=\"post\"><button>Delete the "
         "greeting</button></form>");
  });
  server.Post(std::string("/watch/delete/") + kToken,
              [this, deletion](const Request& req, Response& res) {
                const std::optional<Greeting> g = deletion(req, res);
                if (!g) return;
                DeleteGreeting(greetings_, data_, *g, clock_());
                Html(res, 200, "Deleted", "<p>The greeting is deleted.</p>");
              });
}

}  // namespace moviletta::service
