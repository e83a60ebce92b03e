// The studio page: buttons follow the control's status, the panel and the bar its progress, the
// window the one in front, and message boxes are shown modally and acknowledged.
"use strict";

const token = new URLSearchParams(location.search).get("token");
const ctl = new Movilettas(token);
const $ = (id) => document.getElementById(id);
const STATUS = ["starting", "ready", "loading the skin", "recording", "playing", "sending"];

function showWindow(name) {
  $("window").src = "/video/" + name + "?token=" + encodeURIComponent(token);
  $("window").alt = name === "player" ? "Recorded greeting" : "Camera picture";
}

// Every status the page has shown, in order (a short one might otherwise go unnoticed).
const statusHistory = [];

function follow() {
  const status = ctl.ClientStatus;
  statusHistory.push(status);
  $("status").textContent = "Status: " + (STATUS[status] || status);
  for (const id of ["record", "play", "send", "skin"]) $(id).disabled = status !== 1;
  $("stop").disabled = status === 0;
}

ctl.addEventListener("StatusChanged", follow);
ctl.addEventListener("startup", (e) => {
  const { state, detail } = e.detail;
  if (state === "starting") $("status").textContent = "Starting: " + detail + "…";
  else if (state === "failed") $("status").textContent = "The control could not start: " + detail;
  else follow();
});
ctl.addEventListener("ErrMsgChanged", () => { $("refusal").textContent = ctl.ErrMsg; });
ctl.addEventListener("progress", (e) => {
  $("bar").value = e.detail.value;
  $("bar-text").textContent = e.detail.text;
});
ctl.addEventListener("panel", (e) => { $("panel").hidden = !e.detail.visible; });
ctl.addEventListener("front", (e) => { if (e.detail.window !== "panel") showWindow(e.detail.window); });
ctl.addEventListener("messagebox", (e) => {
  $("box-text").textContent = e.detail.text;
  $("box").showModal();
  $("box").addEventListener("close", () => ctl.acknowledge(e.detail.id), { once: true });
});

const run = (promise) => promise.catch((e) => { $("refusal").textContent = e.description || String(e); });
$("record").addEventListener("click", () => run(ctl.RecordVideo()));
$("stop").addEventListener("click", () => run(ctl.StopVideo()));
$("play").addEventListener("click", () => run(ctl.PlayVideo()));
$("skin").addEventListener("change", () => run(ctl.LoadSkin(Number($("skin").value))));
$("mirror").addEventListener("change", () => run(ctl.setMiror($("mirror").checked)));
$("greeting").addEventListener("submit", (e) => {
  e.preventDefault();
  const f = e.target.elements;
  run(ctl.SendGreeting(0, f.name.value, f.email.value, f.recipients.value, f.message.value, "1", 0));
});
$("mobile").addEventListener("submit", (e) => {
  e.preventDefault();
  const f = e.target.elements, g = $("greeting").elements;
  run(ctl.SendByEmail(g.name.value, g.email.value, f.recipient.value, f.mobile.value,
                      f.emails.value, g.message.value));
});

showWindow("capture");
ctl.call("ClientStatus", [], "get").then((status) => { ctl.ClientStatus = status; follow(); });
