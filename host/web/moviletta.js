// SPDX-License-Identifier: GPL-3.0-or-later
// The control as a page object, for the studio's own page and for the pages of the sites the
// visitor allowed: the same members as the control, methods returning promises, ClientStatus and
// ErrMsg mirrored from the events, StatusChanged and ErrMsgChanged as DOM events, and the host's
// own events (startup, driver, progress, panel, messagebox, front, sendstart, sendresult, nosound,
// sites, skin, devices, level, devicefailure) as DOM events too, and "revoked" when the visitor
// revokes the site. Each page has an id of its own; claim() makes it the page that drives
// the control. A call that cannot reach the host fails with number 0.
//
// A site's page gets its object from Movilettas.connect(), which finds the studio on this
// computer and, the first time, asks the visitor in the studio's own window.
"use strict";

class MovilettaError extends Error {
  constructor(number, description) {
    super(description);
    this.number = number;
    this.description = description;
  }
}

// Where the studio listens: the first free one of these ports on this computer.
const MOVILETTA_PORTS = Array.from({ length: 10 }, (_, i) => 47800 + i);

// One send's "progress" events as one bar that never goes back: compressing the video is its
// first half and the mail its second ("Compressing 20 %", then "Sending 70 %"); a send from the
// outbox (its greeting is compressed) is all mail.
class MovilettaSendProgress {
  constructor(phase = "Compressing") {
    this.phase = phase;
    this.compresses = phase === "Compressing";
    this.value = 0;
  }

  // The bar's value and words after progress event `detail` ({value, text}).
  update(detail) {
    const words = detail.text || "", told = /(\d+)%$/.exec(words);
    const percent = told ? Number(told[1]) : detail.value;
    if (/^Sending/.test(words)) this.phase = "Sending";
    else if (/^Proccesing/.test(words)) this.compressed ||= percent >= 100;
    else if (this.compressed) this.phase = "Sending";  // the mail is being made
    const share = !this.compresses ? percent : this.phase === "Sending" ? 50 + percent / 2 : percent / 2;
    this.value = Math.max(this.value, Math.min(100, Math.round(share)));
    return { value: this.value, text: this.phase + " " + this.value + " %" };
  }

  text(detail) {
    return this.update(detail).text;
  }
}

// Two handles on one timeline of the take that choose the part to send, built into `element` (a
// fieldset; the ids are `prefix`-start, -end and -text). Arrow keys move the focused handle by a
// tenth of a second and its time is read out; a click on the timeline moves the nearer handle
// there; the handles never come closer than half a second. Each part is
// told to the studio (TrimTake) one after another, in the order the handles moved. Events:
// "moved" {start, end} as the handles move, "trimmed" {start, end} once the studio took a part,
// "refused" {error} when it did not (the
// handles go back to the last part it took).
class MovilettaTrimmer extends EventTarget {
  static SHORTEST = 0.5;

  constructor(ctl, element, prefix = "trim") {
    super();
    this.ctl = ctl;
    this.length = 0;                    // the take's, in tenths of a second rounded down
    this.part = { start: 0, end: 0 };   // the last part the studio took
    this.telling = Promise.resolve();
    const make = (tag, props) => Object.assign(element.ownerDocument.createElement(tag), props);
    const handle = (name) => make("input", { type: "range", id: prefix + "-" + name, min: "0", step: "0.1" });
    this.start = handle("start");
    this.end = handle("end");
    this.start.setAttribute("aria-label", "Start");
    this.end.setAttribute("aria-label", "End");
    this.kept = make("div", { className: "moviletta-kept" });  // the part sent, between the handles
    const timeline = make("div", { className: "moviletta-timeline" });
    timeline.append(this.kept, this.start, this.end);
    this.text = make("output", { id: prefix + "-text" });
    this.text.htmlFor.add(this.start.id, this.end.id);
    const legend = make("legend", { textContent: "Trim the take " });
    legend.append(make("span", { className: "hint", textContent: "(arrow keys move a handle by 0.1 s)" }));
    element.replaceChildren(legend, timeline, this.text);
    for (const input of [this.start, this.end]) {
      input.addEventListener("input", () => this.describe());
      input.addEventListener("change", () => this.move(input));
    }
    // The handles let the pointer through their tracks: a click there moves the nearer one.
    timeline.addEventListener("pointerdown", (e) => {
      if (e.target !== timeline && e.target !== this.kept) return;
      const box = timeline.getBoundingClientRect();
      const at = Math.round(Math.min(Math.max((e.clientX - box.left) / box.width, 0), 1) * this.length * 10) / 10;
      const input = Math.abs(at - Number(this.start.value)) <= Math.abs(at - Number(this.end.value)) ? this.start : this.end;
      input.value = String(at);
      input.focus();
      this.move(input);
    });
  }

  // Resolves once the studio has answered every part told so far: a send waits for it, so that
  // it sends the part the handles show.
  settled() {
    return this.telling;
  }

  // Sets the handles over a take of `seconds` to its part {start, end} (none: the whole take).
  show(seconds, part = null) {
    this.length = Math.floor(seconds * 10 + 1e-6) / 10;
    this.part = part ? { start: part.start, end: Math.min(part.end, this.length) }
                     : { start: 0, end: this.length };
    for (const input of [this.start, this.end]) input.max = String(this.length);
    this.start.value = String(this.part.start);
    this.end.value = String(this.part.end);
    this.describe();
  }

  describe() {
    const start = Number(this.start.value), end = Number(this.end.value);
    this.start.setAttribute("aria-valuetext", start.toFixed(1) + " s");
    this.end.setAttribute("aria-valuetext", end.toFixed(1) + " s");
    this.text.textContent = "Sends " + start.toFixed(1) + " s to " + end.toFixed(1) + " s";
    const share = (seconds) => (this.length ? seconds / this.length * 100 : 0) + "%";
    this.kept.style.left = share(start);
    this.kept.style.width = share(end - start);
    this.dispatchEvent(new CustomEvent("moved", { detail: { start, end } }));
  }

  move(input) {
    const shortest = MovilettaTrimmer.SHORTEST, length = this.length;
    let start = Number(this.start.value), end = Number(this.end.value);
    if (end - start < shortest) {
      if (input === this.start) start = Math.max(0, end - shortest);
      else end = Math.min(length, start + shortest);
      this.start.value = String(start);
      this.end.value = String(end);
    }
    this.describe();
    this.telling = this.telling.then(async () => {
      try {
        await this.ctl.TrimTake(start, end >= length ? 0 : end);  // the last tenth: to the end
        this.part = { start, end };
        this.dispatchEvent(new CustomEvent("trimmed", { detail: { start, end } }));
      } catch (error) {
        this.show(length, this.part);
        this.dispatchEvent(new CustomEvent("refused", { detail: { error } }));
      }
    });
  }
}

// The studio's events for every page of one origin, over one stream: a browser keeps six
// connections to a host for all its tabs, so the pages of an origin share the stream of one of
// them (the one that drives, when one does), which hands each event on over a BroadcastChannel.
// A page that joins reads where things stand once (a stream that ends at once) and then follows
// the shared one; when the page holding the stream goes, another one opens it. The stream
// carries its page's id: its end is that page's going away. Where the browser lacks Web Locks or
// BroadcastChannel each page has a stream of its own.
class MovilettaEvents {
  static KINDS = ["StatusChanged", "ErrMsgChanged", "driver", "startup", "progress", "panel",
                  "messagebox", "front", "sendstart", "sendresult", "nosound", "sites", "skin",
                  "devices", "level", "devicefailure", "revoked"];

  constructor(base, token, page, deliver) {
    this.url = base + "/events?token=" + encodeURIComponent(token) + "&page=" + encodeURIComponent(page);
    this.deliver = deliver;
    this.state = EventSource.CONNECTING;
    this.source = null;
    this.ended = new AbortController();  // the origin was revoked: no stream any more
    // Events are told once the page's scripts have all run, so that each finds its listeners.
    if (document.readyState === "loading")
      addEventListener("DOMContentLoaded", () => this.start(base), { once: true });
    else
      this.start(base);
  }

  start(base) {
    if (!navigator.locks || typeof BroadcastChannel === "undefined") {
      this.open(false);
      return;
    }
    this.lock = "moviletta-events " + (base || location.origin);
    this.channel = new BroadcastChannel(this.lock);
    this.heard = [];  // what the shared stream told before this page knew where things stand
    this.known = -1;  // the id of the last event this page has applied; -1 before it knows
    this.channel.onmessage = ({ data }) => {
      if (this.source) return;  // this page holds the stream: it hears the studio itself
      if (this.known < 0) this.heard.push(data);
      else this.follow(data);
    };
    this.queue();
    this.snapshot();
  }

  // Where things stand, read once; then what the shared stream told meanwhile.
  async snapshot() {
    const response = await fetch(this.url + "&once=1", { cache: "no-store" }).catch(() => null);
    if (!response || !response.ok) {
      if (this.known < 0 && !this.source) this.take("error", null, false);
      if (!this.ended.signal.aborted && !this.source) setTimeout(() => this.snapshot(), 1000);
      return;
    }
    const text = await response.text().catch(() => "");
    if (this.source) return;  // holding the stream meanwhile: it told everything
    let last = Number(response.headers.get("X-Last-Event")) || 0;
    const told = [];
    for (const block of text.split("\n\n")) {
      const line = (key) => (block.split("\n").find((l) => l.startsWith(key + ": ")) || "").slice(key.length + 2);
      if (line("event")) told.push({ id: Number(line("id")) || 0, name: line("event"), data: line("data") });
    }
    this.known = 0;
    this.take("open", null, false);
    for (const e of told) this.take(e.name, JSON.parse(e.data || "{}"), false);
    this.known = last;
    for (const data of this.heard.splice(0)) this.follow(data);
  }

  // An event the page holding the stream handed on. A stream (re)opened starts with where things
  // stand, under ids of their own (a studio started again counts from 1): all are taken.
  follow({ id, name, data }) {
    if (name === "open") {
      this.known = 0;
      if (this.state !== EventSource.OPEN) this.take(name, data, false);
      return;
    }
    if (id && id <= this.known) return;  // in the snapshot already
    this.take(name, data, false, id);
  }

  // Waits for the stream in turn with the origin's other pages.
  queue() {
    navigator.locks.request(this.lock, { signal: this.ended.signal }, () => this.hold())
        .catch((e) => this.lost(e));
  }

  // Makes this page the one holding the stream now; the page that held it waits its turn again.
  async lead() {
    if (!this.channel || this.source || this.ended.signal.aborted) return;
    const opened = new Promise((resolve) => { this.opened = resolve; });
    navigator.locks.request(this.lock, { steal: true }, () => this.hold()).catch((e) => this.lost(e));
    await Promise.race([opened, new Promise((resolve) => setTimeout(resolve, 2000))]);
  }

  // Holds the stream as long as this page holds the lock (until it goes, or another steals it).
  hold() {
    if (this.ended.signal.aborted) return undefined;
    this.open(true);
    return new Promise((resolve) => { this.release = resolve; });
  }

  // The lock was stolen (or the request ended): the stream goes, and the page queues again.
  lost(error) {
    if (!error || error.name !== "AbortError" || !this.source) return;
    this.source.close();
    this.source = null;
    if (!this.ended.signal.aborted) this.queue();
  }

  open(shared) {
    const source = new EventSource(this.url);
    this.source = source;
    for (const name of MovilettaEvents.KINDS)
      source.addEventListener(name, (e) => {
        this.take(name, JSON.parse(e.data || "{}"), shared, Number(e.lastEventId) || 0);
      });
    source.addEventListener("open", () => {
      this.take("open", null, shared);
      if (this.opened) this.opened();
    });
    source.addEventListener("error", () => {
      if (this.source === source && source.readyState !== EventSource.OPEN)
        this.take("error", null, shared);
    });
  }

  take(name, data, share, id = 0) {
    if (share) this.channel.postMessage({ id, name, data });
    if (id) this.known = Math.max(this.known, id);
    if (name === "open") this.state = EventSource.OPEN;
    if (name === "error" && this.state !== EventSource.CLOSED) this.state = EventSource.CONNECTING;
    if (name === "revoked") {
      // The visitor revoked this site: the studio answers it no more.
      this.state = EventSource.CLOSED;
      this.ended.abort();
      if (this.source) this.source.close();
      this.source = null;
      if (this.release) this.release();
    }
    this.deliver(name, data);
  }
}

class Movilettas extends EventTarget {
  // `token`: the studio's launch token or a site's; `base`: the studio's address, "" on its own
  // page.
  constructor(token, base = "") {
    super();
    this.token = token;
    this.base = base;
    this.page = crypto.randomUUID ? crypto.randomUUID() : String(Math.random()).slice(2);
    this.ClientStatus = 0;
    this.ErrMsg = "";
    this.SecondsLimit = 0;
    this.VideoWidth = 320;
    this.VideoHeight = 240;
    this.SentSize = null;  // [width, height] the greeting is mailed at; null: the recording's own
    this.KeyColour = null;  // the skins' see-through colour, 0x00BBGGRR
    this.driver = "";  // the page that drives the studio, "" when none does or it is not known
    this.windows = new WeakMap();  // picture element: the window run that it shows
    const mirror = (data) => {
      for (const key of ["ClientStatus", "ErrMsg", "SecondsLimit", "VideoWidth", "VideoHeight", "SentSize", "KeyColour"])
        if (key in data) this[key] = data[key];
    };
    const apply = { StatusChanged: mirror, ErrMsgChanged: mirror,
                    driver: (data) => { this.driver = data.page || ""; } };
    this.events = new MovilettaEvents(base, token, this.page, (name, data) => {
      if (name === "open") return this.dispatchEvent(new Event("connected"));
      if (name === "error") return this.dispatchEvent(new Event("disconnected"));
      if (name === "revoked") {
        this.revoked = true;  // the windows let go of their pictures
        return this.dispatchEvent(new Event("revoked"));
      }
      if (apply[name]) apply[name](data);
      this.dispatchEvent(new CustomEvent(name, { detail: data }));
    });
  }

  // How this page hears the studio: EventSource.CONNECTING, OPEN or CLOSED (revoked).
  get connection() { return this.events.state; }

  headers(extra = {}) {
    return { "X-Moviletta-Token": this.token, "X-Moviletta-Page": this.page, ...extra };
  }

  // Starts the control again after a failed start-up; the "startup" events tell how it goes.
  restart() {
    return fetch(this.base + "/restart", { method: "POST", headers: this.headers() });
  }

  // This page goes away: another may drive the control at once.
  release() {
    fetch(this.base + "/release?page=" + encodeURIComponent(this.page),
          { method: "POST", headers: this.headers(), keepalive: true }).catch(() => {});
  }

  // Makes this page the one that drives the control; false when another one does (and
  // `takeover` is not set).
  async claim(takeover = false) {
    const response = await fetch(this.base + "/claim?page=" + encodeURIComponent(this.page) +
                                 (takeover ? "&takeover=1" : ""),
                                 { method: "POST", headers: this.headers() });
    if (response.status !== 204) return false;
    this.driver = this.page;
    // The driving page holds its origin's stream: the stream's end is its going away.
    await this.events.lead();
    return true;
  }

  async call(member, args = [], kind = "") {
    let response;
    try {
      response = await fetch(this.base + "/call/" + member + (kind ? "?kind=" + kind : ""), {
        method: "POST",
        headers: this.headers({ "Content-Type": "application/json" }),
        body: JSON.stringify(args),
      });
    } catch (e) {
      throw new MovilettaError(0, "the studio program cannot be reached");
    }
    if (!response.ok) throw new MovilettaError(response.status, "the host refused the call");
    const reply = await response.json();
    if (reply.error) throw new MovilettaError(reply.error.number, reply.error.description);
    return reply.value;
  }

  // The address of the host's `path` with this page's token, for what cannot send headers
  // (pictures, the video windows).
  address(path) {
    return this.base + path + "?token=" + encodeURIComponent(this.token);
  }

  // The skins a visitor may choose: [{id, name, thumbnail}], the thumbnail a picture's address;
  // rejects when the greeting server did not give its catalogue.
  async skins() {
    const response = await fetch(this.base + "/skins", { headers: this.headers() });
    if (!response.ok) throw new MovilettaError(response.status, "the skins could not be fetched");
    return (await response.json()).map((skin) => ({ ...skin, thumbnail: this.address(skin.thumbnail) }));
  }

  // The cameras and microphones and the visitor's choice: {cameras: [{device, name, sizes}],
  // microphones: [{device, description}], camera, size, microphone} ("" the studio's own).
  async devices() {
    const response = await fetch(this.base + "/devices", { headers: this.headers() });
    if (!response.ok) throw new MovilettaError(response.status, "the devices could not be listed");
    return response.json();
  }

  // Chooses {camera, size, microphone}; kept for the next time. Rejects with the studio's reason.
  async chooseDevices(choice) {
    const response = await fetch(this.base + "/devices", {
      method: "POST", headers: this.headers({ "Content-Type": "application/json" }), body: JSON.stringify(choice),
    }).catch(() => { throw new MovilettaError(0, "the studio program cannot be reached"); });
    if (response.ok) return;
    const reply = await response.json().catch(() => ({}));
    throw new MovilettaError(reply.error ? reply.error.number : response.status,
                             reply.error ? reply.error.description : "the choice was refused");
  }

  // The capture window ("capture") or the player window ("player") as a new picture element
  // that shows the window's moving picture wherever the page places it.
  videoElement(name) {
    const picture = document.createElement("img");
    picture.alt = name === "player" ? "The recorded greeting" : "Camera picture";
    this.showWindow(picture, name);
    return picture;
  }

  // Shows window `name`'s moving picture in the picture element `picture` from now on, instead
  // of what it showed. Its pictures are fetched one at a time, so that the page never holds a
  // connection open for them (a browser keeps six to a host, for all its tabs), and only while
  // the element is shown, the page is visible and no other page drives the studio.
  showWindow(picture, name) {
    const run = {};
    this.windows.set(picture, run);
    const current = () => this.windows.get(picture) === run;
    const wanted = () => !document.hidden && picture.isConnected && picture.getClientRects().length > 0 &&
                         (!this.driver || this.driver === this.page);
    const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    // A page that no longer shows this studio's picture (another page drives, or the site was
    // revoked) shows none rather than its last one, frozen.
    const letGo = () => {
      const shown = picture.src;
      picture.removeAttribute("src");
      if (shown.startsWith("blob:")) URL.revokeObjectURL(shown);
    };
    (async () => {
      let after = 0;
      while (current() && !this.revoked) {
        if (!wanted()) {
          if (this.driver && this.driver !== this.page && picture.src) letGo();
          await pause(250);
          continue;
        }
        const response = await fetch(this.address("/video/" + name + "/frame") + "&after=" + after,
                                      { cache: "no-store" }).catch(() => null);
        if (!response || response.status !== 200) {
          await pause(response && response.status === 204 ? 250 : 1000);
          continue;
        }
        const frame = await response.blob().catch(() => null);
        if (!frame || !current()) continue;
        after = Number(response.headers.get("X-Frame")) || 0;
        const shown = picture.src;
        picture.src = URL.createObjectURL(frame);
        if (shown.startsWith("blob:")) URL.revokeObjectURL(shown);
      }
      if (this.revoked) letGo();
    })();
  }

  // `seconds` as minutes, seconds and tenths ("1:05.3"); `up` rounds up, for the time left.
  static formatTime(seconds, { up = false } = {}) {
    const tenths = Math.max(0, (up ? Math.ceil : Math.floor)(Math.round(seconds * 1000) / 100));
    return Math.floor(tenths / 600) + ":" + String(Math.floor(tenths / 10) % 60).padStart(2, "0") +
      "." + (tenths % 10);
  }

  // For a site's page: finds the studio on this computer (at `base`, else on MOVILETTA_PORTS) and
  // resolves to its page object. The first time, or after the visitor revoked the site, the
  // studio asks the visitor in a window of its own, so call it from a click; `server` names the
  // site's greeting server when it is not the site's own origin (https only), and the question
  // names it too. Rejects with number 0 when no studio runs here, 70 when the visitor did not
  // allow this site.
  // A token is sent only to a studio that has proved it knows it (see proven): the ports are
  // shared by every account of the computer, and another program may listen where the visitor's
  // studio was before.
  static async connect({ base = "", ports = MOVILETTA_PORTS, server = "" } = {}) {
    const candidates = base ? [base] : ports.map((port) => "http://127.0.0.1:" + port);
    const key = (at) => "moviletta.token@" + at;
    const tokens = [...new Set(Object.keys(localStorage).filter((name) => name.startsWith(key("")))
                                   .map((name) => localStorage.getItem(name)).filter(Boolean))];
    for (const at of tokens.length ? candidates : []) {
      const token = await Movilettas.proven(at, tokens);
      if (!token) continue;
      localStorage.setItem(key(at), token);
      return new Movilettas(token, at);
    }
    // Only the studio: another program listening on a port of these does not get the question.
    let found = "";
    for (const at of candidates) {
      const answer = await fetch(at + "/identity", { cache: "no-store" })
          .then((response) => response.ok ? response.json() : null).catch(() => null);
      if (answer && answer.studio === "moviletta") {
        found = at;
        break;
      }
    }
    if (!found) throw new MovilettaError(0, "The Moviletta studio is not running on this computer.");
    const answer = await Movilettas.ask(found, server);
    if (!answer.allowed)
      throw new MovilettaError(70, "The visitor did not allow this site to use the studio.");
    localStorage.setItem(key(found), answer.token);
    return new Movilettas(answer.token, found);
  }

  // Which of `tokens` the studio at `base` proves it knows, without being told any: it answers
  // a fresh nonce with the HMAC-SHA256, under the token it gave this site, of the nonce and its
  // own address, which this page checks against each token. Nothing when it proves none (another
  // program, a studio of another account, a site it no longer allows).
  static async proven(base, tokens) {
    if (!crypto.subtle) return null;  // only in secure contexts: https, or this machine
    const nonce = Array.from(crypto.getRandomValues(new Uint8Array(16)),
                             (byte) => byte.toString(16).padStart(2, "0")).join("");
    const answer = await fetch(base + "/proof?nonce=" + nonce, { cache: "no-store" })
        .then((response) => response.ok ? response.json() : null).catch(() => null);
    if (!answer || typeof answer.proof !== "string") return null;
    const message = new TextEncoder().encode("moviletta-proof\n" + nonce + "\n" + new URL(base).host);
    for (const token of tokens) {
      const secret = await crypto.subtle.importKey("raw", new TextEncoder().encode(token),
                                                   { name: "HMAC", hash: "SHA-256" }, false, ["sign"]);
      const proof = Array.from(new Uint8Array(await crypto.subtle.sign("HMAC", secret, message)),
                               (byte) => byte.toString(16).padStart(2, "0")).join("");
      if (proof === answer.proof) return token;
    }
    return null;
  }

  // Opens the studio's question for this page's origin and waits for the visitor's answer:
  // {allowed, token}, or not allowed when the window is closed unanswered.
  static ask(base, server = "") {
    const question = window.open(base + "/consent?origin=" + encodeURIComponent(location.origin) +
                                 (server ? "&server=" + encodeURIComponent(server) : ""),
                                 "moviletta-consent", "popup,width=520,height=420");
    if (!question)
      return Promise.reject(new MovilettaError(0, "The browser blocked the studio's question window."));
    return new Promise((resolve) => {
      const heard = (e) => {
        if (e.source !== question || e.origin !== base || !e.data || e.data.moviletta !== "consent") return;
        end();
        resolve({ allowed: !!e.data.allowed, token: String(e.data.token || "") });
      };
      // The answer comes before the window closes; a closed window without one is a no.
      const watch = setInterval(() => {
        if (!question.closed) return;
        clearInterval(watch);
        setTimeout(() => { end(); resolve({ allowed: false }); }, 300);
      }, 250);
      const end = () => {
        removeEventListener("message", heard);
        clearInterval(watch);
      };
      addEventListener("message", heard);
    });
  }

  acknowledge(id) {
    return fetch(this.base + "/ack/" + id, { method: "POST", headers: this.headers() }).catch(() => {});
  }

  RecordVideo() { return this.call("RecordVideo"); }
  PlayVideo() { return this.call("PlayVideo"); }
  PauseVideo() { return this.call("PauseVideo"); }
  ResumeVideo() { return this.call("ResumeVideo"); }
  StopVideo() { return this.call("StopVideo"); }
  SetVideoSize(width, height) { return this.call("SetVideoSize", [width, height]); }
  LoadSkin(id) { return this.call("LoadSkin", [id]); }
  SendGreeting(userId, name, email, recipients, message, publish, siteSettingId) {
    return this.call("SendGreeting", [userId, name, email, recipients, message, publish, siteSettingId]);
  }
  SendByEmail(name, email, recipientName, mobile, emails, message) {
    return this.call("SendByEmail", [name, email, recipientName, mobile, emails, message]);
  }
  GetInstallationID() { return this.call("GetInstallationID"); }
  LoadClientSettings() { return this.call("LoadClientSettings"); }
  GenerateMessageXML(...args) { return this.call("GenerateMessageXML", args); }
  SetXMLNode(name, value) { return this.call("SetXMLNode", [name, value]); }
  getMiror() { return this.call("Miror", [], "get"); }
  setMiror(on) { return this.call("Miror", [on], "put"); }
  getSkinPath() { return this.call("SkinPath", [], "get"); }
  // The outbox: greetings whose mail did not go, as a list of entries.
  async OutboxList() { return JSON.parse(await this.call("OutboxList")); }
  OutboxSend(id) { return this.call("OutboxSend", [id]); }
  OutboxDiscard(id) { return this.call("OutboxDiscard", [id]); }
  // Sends only the take's part from `start` to `end` seconds (0: its end).
  TrimTake(start, end = 0) { return this.call("TrimTake", [start, end]); }
  // The recording's whole length in seconds; 0 without one.
  TakeSeconds() { return this.call("TakeSeconds"); }
  // Ends the latest send under way (no copy kept); false when none is.
  CancelSend() { return this.call("CancelSend"); }
}
