// The control as a page object: the same members as the control, methods returning promises,
// ClientStatus and ErrMsg mirrored from the events, StatusChanged and ErrMsgChanged as DOM
// events, and the host's own events (startup, progress, panel, messagebox, front) as DOM events too.
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
    this.ClientStatus = 0;
    this.ErrMsg = "";
    const events = new EventSource("/events?token=" + encodeURIComponent(token));
    const forward = (name, apply) =>
      events.addEventListener(name, (e) => {
        const data = JSON.parse(e.data);
        if (apply) apply(data);
        this.dispatchEvent(new CustomEvent(name, { detail: data }));
      });
    const mirror = (data) => {
      this.ClientStatus = data.ClientStatus;
      this.ErrMsg = data.ErrMsg;
    };
    forward("StatusChanged", mirror);
    forward("ErrMsgChanged", mirror);
    for (const name of ["startup", "progress", "panel", "messagebox", "front"]) forward(name);
    this.events = events;
  }

  async call(member, args = [], kind = "") {
    const response = await fetch("/call/" + member + (kind ? "?kind=" + kind : ""), {
      method: "POST",
      headers: { "Content-Type": "application/json", "X-Moviletta-Token": this.token },
      body: JSON.stringify(args),
    });
    if (!response.ok) throw new MovilettaError(response.status, "the host refused the call");
    const reply = await response.json();
    if (reply.error) throw new MovilettaError(reply.error.number, reply.error.description);
    return reply.value;
  }

  acknowledge(id) {
    return fetch("/ack/" + id, { method: "POST", headers: { "X-Moviletta-Token": this.token } });
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
}
