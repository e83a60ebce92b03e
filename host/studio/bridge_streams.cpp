// SPDX-License-Identifier: GPL-3.0-or-later
// The bridge's two streams: the windows' pictures (MJPEG) and the page's events (server-sent
// events). Each asks the gate again as it goes, so a revoked site's streams end.
#include <httplib.h>

#include "host/studio/bridge.h"
#include "moviletta/ffmpeg/jpeg_writer.h"

namespace moviletta::web {
namespace {

using httplib::Request;
using httplib::Response;

}  // namespace

void Bridge::StreamVideo(const Request& req, Response& res) {
  FrameFeed& feed = req.matches[1] == "capture" ? windows_.capture : windows_.player;
  const RequestFacts facts = Facts(req);
  const std::string viewer = Caller(req);
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "multipart/x-mixed-replace; boundary=frame",
      [this, &feed, facts, viewer, seen = uint64_t{0}](std::size_t,
                                                       httplib::DataSink& sink) mutable {
        const BitmapHandle frame = feed.Next(seen, std::chrono::seconds(1));
        // A revoked site's picture ends at once, as its events do.
        if ((!frame && feed.closed()) || !StillAdmitted(facts)) {
          sink.done();
          return false;
        }
        // Nothing new yet, or the picture of another origin's session: stop once the page is gone.
        if (!frame || !driving_.RunsFor(viewer)) return sink.is_writable();
        std::string part;
        try {
          const std::string jpeg = EncodeJpeg(*frame, 80);
          part = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                 std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg + "\r\n";
        } catch (const Error&) {
          return true;
        }
        return sink.write(part.data(), part.size());
      });
}

void Bridge::ServeFrame(const Request& req, Response& res) {
  FrameFeed& feed = req.matches[1] == "capture" ? windows_.capture : windows_.player;
  res.set_header("Cache-Control", "no-store");
  res.status = 204;
  if (!driving_.RunsFor(Caller(req))) return;
  uint64_t seen = std::strtoull(req.get_param_value("after").c_str(), nullptr, 10);
  const BitmapHandle frame = feed.Next(seen, std::chrono::milliseconds(250));
  if (!frame) return;
  try {
    res.set_content(EncodeJpeg(*frame, 80), "image/jpeg");
    res.set_header("X-Frame", std::to_string(seen));
    res.status = 200;
  } catch (const Error&) {  // a picture that cannot be encoded: the next one may
  }
}

void Bridge::StreamEvents(const Request& req, Response& res) {
  // The stream of the page that drives the control is its presence: when it ends, no page does.
  const std::string page = req.get_param_value("page");
  // A page that reconnects goes on after the last event it saw; a new one starts with the
  // current state. Each page hears its own origin's events only.
  const std::string viewer = Caller(req);
  uint64_t after = 0;
  std::vector<EventStream::Event> first;
  const RequestFacts facts = Facts(req);
  // A page that follows another page's stream of its origin reads where things stand once: this
  // stream ends at once, and its end is no page's going away.
  if (req.has_param("once")) {
    std::string text = StillAdmitted(facts) ? "" : "event: revoked\ndata: {}\n\n";
    if (text.empty())
      for (const auto& e : stream_.Current(after, viewer))
        text += "id: " + std::to_string(e.id) + "\nevent: " + e.name + "\ndata: " + e.json + "\n\n";
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Last-Event", std::to_string(after));
    res.set_content(text, "text/event-stream");
    return;
  }
  if (req.has_header("Last-Event-ID"))
    after = std::strtoull(req.get_header_value("Last-Event-ID").c_str(), nullptr, 10);
  else
    first = stream_.Current(after, viewer);
  // A site's stream ends with event "revoked" within a second of the visitor revoking the site.
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "text/event-stream",
      [this, after, first = std::move(first), facts, viewer, greeted = false](
          std::size_t, httplib::DataSink& sink) mutable {
        // A short wait: the write that fails tells that a page is gone (a crashed window
        // closes its connection without a word), and its claim is released within a second.
        const auto events = first.empty()
                                ? stream_.Next(after, std::chrono::milliseconds(500), viewer)
                                : std::move(first);
        first.clear();
        if (stream_.closed()) {
          sink.done();
          return false;
        }
        if (!StillAdmitted(facts)) {  // the visitor revoked the site
          const std::string last = "event: revoked\ndata: {}\n\n";
          sink.write(last.data(), last.size());
          sink.done();
          return false;
        }
        // After a restart of the studio the page's browser comes back within a second.
        std::string text = greeted ? "" : "retry: 1000\n\n";
        greeted = true;
        if (events.empty() && text.empty()) text = ":\n\n";
        for (const auto& e : events)
          text +=
              "id: " + std::to_string(e.id) + "\nevent: " + e.name + "\ndata: " + e.json + "\n\n";
        return sink.write(text.data(), text.size());
      },
      [this, page, viewer](bool) { driving_.Release(page, viewer); });
}

}  // namespace moviletta::web
