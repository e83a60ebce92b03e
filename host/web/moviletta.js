// The control as a page object: the same members as the control, methods returning promises,
// ClientStatus and ErrMsg mirrored from the events, StatusChanged and ErrMsgChanged as DOM
// events, and the host's own events (startup, driver, progress, panel, messagebox, front,
// sendstart, sendresult, nosound) as DOM events too. Each page has an id of its own; claim() makes it the
// page that drives the control. A call that cannot reach the host fails with number 0.
"use strict";

class MovilettaError extends Error {
  constructor(number, description) {
    super(description);
    this.number = number;
    this.description = description;
  }
}

class Movilettas extends EventTarget {
  constructor(token) {
    super();
    this.token = token;
    this.page = crypto.randomUUID ? crypto.randomUUID() : String(Math.random()).slice(2);
    this.ClientStatus = 0;
    this.ErrMsg = "";
    this.SecondsLimit = 0;
    this.VideoWidth = 320;
    this.VideoHeight = 240;
    const events = new EventSource("/events?token=" + encodeURIComponent(token) +
                                   "&page=" + encodeURIComponent(this.page));
    const forward = (name, apply) =>
      events.addEventListener(name, (e) => {
        const data = JSON.parse(e.data);
        if (apply) apply(data);
        this.dispatchEvent(new CustomEvent(name, { detail: data }));
      });
    const mirror = (data) => {
      for (const key of ["ClientStatus", "ErrMsg", "SecondsLimit", "VideoWidth", "VideoHeight"])
        if (key in data) this[key] = data[key];
    };
    forward("StatusChanged", mirror);
    forward("ErrMsgChanged", mirror);
    for (const name of ["startup", "driver", "progress", "panel", "messagebox", "front",
                        "sendstart", "sendresult", "nosound"])
      forward(name);
    events.addEventListener("open", () => this.dispatchEvent(new Event("connected")));
    events.addEventListener("error", () => this.dispatchEvent(new Event("disconnected")));
    this.events = events;
  }

  headers(extra = {}) {
    return { "X-Moviletta-Token": this.token, "X-Moviletta-Page": this.page, ...extra };
  }

  // Starts the control again after a failed start-up; the "startup" events tell how it goes.
  restart() {
    return fetch("/restart", { method: "POST", headers: this.headers() });
  }

  // This page goes away: another may drive the control at once.
  release() {
    fetch("/release?page=" + encodeURIComponent(this.page),
          { method: "POST", headers: this.headers(), keepalive: true }).catch(() => {});
  }

  // Makes this page the one that drives the control; false when another one does (and
  // `takeover` is not set).
  async claim(takeover = false) {
    const response = await fetch("/claim?page=" + encodeURIComponent(this.page) +
                                 (takeover ? "&takeover=1" : ""),
                                 { method: "POST", headers: this.headers() });
    return response.status === 204;
  }

  async call(member, args = [], kind = "") {
    let response;
    try {
      response = await fetch("/call/" + member + (kind ? "?kind=" + kind : ""), {
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

  acknowledge(id) {
    return fetch("/ack/" + id, { method: "POST", headers: this.headers() }).catch(() => {});
  }

  RecordVideo() { return this.call("RecordVideo"); }
  PlayVideo() { return this.call("PlayVideo"); }
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
}
