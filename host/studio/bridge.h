// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/access/gate.h"
#include "host/access/site_consent.h"
#include "host/studio/call_dispatcher.h"
#include "host/studio/connection_guard.h"
#include "host/studio/driving.h"
#include "host/studio/event_stream.h"
#include "host/studio/frame_feed.h"
#include "host/studio/skin_catalogue.h"
#include "host/studio/web_host.h"
#include "moviletta/common/mutex.h"
#include "moviletta/control/control_site.h"
#include "moviletta/server/http_client.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace moviletta::web {

// Where sites' pages look for the studio: the first free port of these ten.
constexpr int kStudioPort = 47800;
constexpr int kStudioPorts = 10;

// The web host's door to the control, on 127.0.0.1 only, for its own page and the sites the
// visitor allowed (see ServeSites):
//   GET  /?token=T                 the page (files of `web_root`), GET /web/<file> its files
//   GET  /consent?origin=O         the question whether site O may use the studio (consent.html)
//   GET  /identity                 {"studio": "moviletta"}, to any page (how a site's page knows
//                                  the studio before asking the visitor)
//   GET  /hello                    {"studio": "moviletta"}: a token works here
//   GET  /proof?nonce=N            {"studio": "moviletta", "proof": Proof(the caller's token, N,
//                                  "127.0.0.1:<port>")} (host/access/secret.h), to the studio's
//                                  page and the allowed sites without a token: a page checks it
//                                  before it sends its token to this port
//   POST /call/<Member>[?kind=get|put]  a member called on the host thread; JSON array of
//                                  arguments in, {"value": ...} or {"error": {...}} out
//   GET  /events?token=T           the page's events (server-sent events); a site's stream
//                                  ends with event "revoked" when the visitor revokes the site
//   POST /ack/<id>                 the driving page closed message box <id> (409 from any other)
//   GET  /video/capture?token=T, /video/player?token=T   the windows as MJPEG streams
//   GET  /video/capture/frame?token=T&after=N (and player)  the window's first picture after
//                                  number N as one JPEG, its number in header X-Frame; 204 when
//                                  none comes within a quarter of a second or the session is
//                                  another origin's (a page's pictures never hold a connection)
//   GET  /take/snapshot?token=T    the still taken when the last recording began
//        (&from=S: the recording's picture S seconds in)
//   POST /claim?page=P[&takeover=1]  page P drives the control from now on (204), unless another
//                                  page does and P does not take over (409); event "driver"
//                                  {"page": P, "origin": O} to O's pages (O empty for the studio's
//                                  own page), {"page": "another", "origin": O} to the studio's
//                                  page and {"page": "another", "origin": ""} to other sites'
//   POST /release?page=P           page P (of the origin that drives) is going away: no page
//                                  drives the control
//   GET /devices, POST /devices    the cameras and microphones, and the visitor's choice of them
//                                  (see ServeDevices)
//   GET /sites, POST /sites/allow?origin=O[&server=S], POST /sites/revoke?origin=O[&forget=1]
//                                  the allowed sites (see ServeSites), from the studio's own page
// One page drives the control: a call naming a page (header X-Moviletta-Page) other than the
// driver is answered 409, property reads excepted, and the driver is released when its event
// stream (/events?page=P) ends. Every request passes the Gate first (host/access/gate.h: host,
// origin, token, size), and the streams ask it again as they go, so a revoked site's streams end.
// Connections are watched by a ConnectionGuard: another user's are shut down unanswered, and one
// whose request has not arrived within 3 s is shut down then; every
// connection gets a thread of its own at once (ServerThreads, up to 512). No page of the host may
// be shown in a frame. Calls are refused unless the control declares
// itself safe for scripting.
//
// Threads: requests are served on the server's threads; member calls are posted to the host's
// queue and run on the host thread, their answer waited for (a call still waiting when the host
// is asked to stop is answered 503). Start and Stop on any one thread.
class Bridge {
 public:
  // The pictures of the capture and the player windows.
  struct Windows {
    FrameFeed& capture;
    FrameFeed& player;
  };

  // Everything passed in must outlive the bridge.
  Bridge(WebHost& host, ControlSite& site, EventStream& stream, Windows windows,
         std::string web_root, std::string token);
  ~Bridge();

  // Listens on 127.0.0.1 on threads of its own, on the first free port of `first_port` ..
  // `first_port + count - 1`, else (or when `first_port` is 0) on any free port; returns the
  // port. Throws Error when it cannot listen.
  int Start(int first_port = 0, int count = 1);
  // Ends the event and video streams, stops listening and joins the server's threads.
  void Stop();
  std::string PageUrl() const;

  // Where the caller of a request (the origin its token speaks for, "" for the studio's own
  // page) finds a file or service of its own.
  using PlaceOf = std::function<std::string(const std::string& origin)>;

  // Serves the greeting server's skin catalogue to the page: GET /skins answers JSON
  // [{"id", "name", "thumbnail"}] from the caller's `catalogue_url`, whose lines are "<id>,<name>,
  // <picture URL>", and GET /skins/<id>/picture the picture of a skin that the caller's last
  // catalogue named. Without a catalogue (none given, or the server has none: 404) /skins is [];
  // a catalogue that does not come is 502. `http` must outlive the bridge; call before Start.
  void ServeSkinCatalogue(PlaceOf catalogue_url, HttpClientFactory& http);

  // Pages of the sites `consent` allows may call too, each with its own token: their requests
  // are answered with CORS headers for exactly their origin (and Chromium's private-network
  // preflight), every other origin stays refused. GET /sites lists each allowed site as
  // {"origin", ...`describe(origin)`}; POST /sites/revoke runs `revoked(origin, forget)` on the
  // host thread after the revoke (its session ends; with forget=1 its greetings go too).
  // `consent` must outlive the bridge; call before Start.
  void ServeSites(SiteConsent& consent,
                  std::function<nlohmann::json(const std::string& origin)> describe = {},
                  std::function<void(const std::string& origin, bool forget)> revoked = {});

  // GET /take/snapshot answers the caller's JPEG file at `file` (the control's snapshot of the
  // recording it made last), 404 while there is none. Call before Start.
  void ServeSnapshot(PlaceOf file) { snapshot_file_ = std::move(file); }
  // GET /take/snapshot?from=S answers the picture of the caller's recording at `recording` that
  // shows S seconds in, as a JPEG; 400 for S that is no number, 404 while there is no recording.
  // Call before Start.
  void ServeStill(PlaceOf recording) { recording_file_ = std::move(recording); }

  // GET /devices answers `describe()`; POST /devices from the driving page runs `choose(body)`
  // with its JSON body: 204, or 400 with {"error"} when it throws Error 5. Call before Start.
  void ServeDevices(std::function<nlohmann::json()> describe,
                    std::function<void(const nlohmann::json&)> choose) {
    describe_devices_ = std::move(describe), choose_devices_ = std::move(choose);
  }

  // Page sessions: each origin drives a control of its own. `begin(origin)` runs on the host
  // thread when a page of `origin` claims the studio, or calls it while no session runs (a
  // script); `idle()` when the page that drives lets go or its event stream ends. Calls wait
  // while a session starts; a call or property read of another origin than the session's is
  // answered 409. Without sessions every page calls the one control. Call before Start.
  // `unattended(origin)` runs after each call of a script (no page) of `origin` while no page
  // drives.
  void OnSessions(std::function<void(const std::string&)> begin, std::function<void()> idle,
                  std::function<void(const std::string&)> unattended = {}) {
    driving_.OnSessions(std::move(begin), std::move(idle), std::move(unattended));
  }
  // The session of `origin` ended (its control is gone), or was asked for and will never begin
  // (its site was revoked first): calls no longer wait for it. Any thread.
  void SessionEnded(const std::string& origin);
  // The session of `origin`, running, goes on: another was asked for and then this one again
  // before the other began. Calls waiting for a start-up run. Any thread.
  void SessionGoesOn(const std::string& origin) { driving_.SessionGoesOn(origin); }

  // POST /restart (from the driving page) runs `restart` on the host thread: the page's Retry
  // after a failed start-up. Without it /restart answers 404. Call before Start.
  void OnRestart(std::function<void()> restart);

  // The control's start-up has begun: the page is told so and why it waits (event "startup",
  // {"state": "starting", "detail": `why`}), and calls wait until StartupEnded. With sessions,
  // the control is the session of `origin`'s from now on. Host thread.
  void StartupBegins(const std::string& why, const std::string& origin = "");
  // {"state": "ready"}, or {"state": "failed", "detail": the failure's description}; calls run.
  void StartupEnded(const std::optional<Error>& failure);

 private:
  void Routes();
  static RequestFacts Facts(const httplib::Request& req);
  // The JPEG of the caller's recording at the request's `from`; none (with 400 set in `res` for
  // a `from` that is no number) when there is none to show.
  std::optional<std::string> StillOfRecording(const httplib::Request& req, httplib::Response& res);
  // Answers a request as the gate decides, unless it admits it (false); sets its CORS headers.
  bool Answered(const httplib::Request& req, httplib::Response& res) const;
  // Whether the gate admits a stream's request still (a revoked site's streams end).
  bool StillAdmitted(const RequestFacts& facts) const;
  void ServeFile(const std::string& name, httplib::Response& res) const;
  // The handlers of the routes listed above.
  void CallMember(const httplib::Request& req, httplib::Response& res);
  // Whether a waiting call should give up: the host closes or the bridge stops.
  bool GivingUp() const { return stopping_ || host_.Closing(); }
  void ServeSkinPicture(const httplib::Request& req, httplib::Response& res);
  void Claim(const httplib::Request& req, httplib::Response& res);
  void StreamVideo(const httplib::Request& req, httplib::Response& res);
  void ServeFrame(const httplib::Request& req, httplib::Response& res);
  void StreamEvents(const httplib::Request& req, httplib::Response& res);
  // GET /sites, POST /sites/allow?origin=O, POST /sites/revoke?origin=O: the studio's own page
  // manages the allowed sites (event "sites" after each change).
  void ManageSites(const httplib::Request& req, httplib::Response& res);
  void ChooseDevices(const httplib::Request& req, httplib::Response& res);
  // Whether the request comes from the page that drives the session (Driving::DrivesSession).
  bool DrivesSession(const httplib::Request& req);
  // The origin whose pages a request that passed the gate speaks for ("" the studio's own page).
  std::string Caller(const httplib::Request& req) const;

  WebHost& host_;
  EventStream& stream_;
  Windows windows_;
  std::string web_root_;
  std::string token_;
  int port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::optional<Gate> gate_;  // from Start, when the port is known
  std::thread listener_;
  std::atomic<bool> listening_ended_{false};
  std::atomic<bool> stopping_{false};
  std::function<void()> restart_;
  PlaceOf snapshot_file_;
  PlaceOf recording_file_;
  std::optional<SkinCatalogue> catalogue_;
  SiteConsent* consent_ = nullptr;
  std::function<nlohmann::json(const std::string&)> describe_site_;
  std::function<void(const std::string&, bool)> revoked_site_;
  std::function<nlohmann::json()> describe_devices_;
  std::function<void(const nlohmann::json&)> choose_devices_;
  Driving driving_;
  CallDispatcher calls_;
  ConnectionGuard guard_;
};

}  // namespace moviletta::web
