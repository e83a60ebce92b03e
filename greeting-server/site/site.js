// SPDX-License-Identifier: GPL-3.0-or-later
// A greeting site's own page: its own form and design, the studio on the visitor's computer
// recording and sending through the Movilettas page object. A "studio" query parameter names the
// studio's address when it is not on its usual ports.
"use strict";

const $ = (id) => document.getElementById(id);
const STATUS = { starting: 0, ready: 1, loadingSkin: 2, recording: 3, playing: 4, sending: 5 };
let ctl = null;
let drives = false;
let recorded = false;
let countdown = 0;     // the number shown before the recording starts, 0 when none
let timer = 0;
let progress = null;   // the words of the running send's progress
let trimmer = null;    // the handles that trim the take
const windows = {};

const say = (text) => { $("status").textContent = text; };
const fmt = (seconds) => Movilettas.formatTime(seconds);
let failure = "";  // the explanation of the last send that failed

// What a mail failure means to the visitor, with what to do; the mail library's own text is
// for the site's owner.
function plainMailFailure(text) {
  if (/connect|resolve|timed? ?out|reach/i.test(text))
    return "the mail server could not be reached. Check the connection and try again.";
  if (/auth|login|password|535/i.test(text)) return "the mail server did not accept the studio's login.";
  return "the mail server did not take the greeting. Try again in a moment.";
}

function follow() {
  const status = ctl ? ctl.ClientStatus : STATUS.starting;
  const idle = drives && status === STATUS.ready && !countdown;
  $("record").disabled = !idle;
  $("stop").disabled = !drives || !(countdown || [STATUS.recording, STATUS.playing, STATUS.loadingSkin].includes(status));
  $("play").disabled = !idle || !recorded;
  $("send-button").disabled = !idle || !recorded;
  $("skin").disabled = !idle;
  $("rec").hidden = status !== STATUS.recording;
  $("trim").hidden = !idle || !recorded || !(trimmer && trimmer.length > MovilettaTrimmer.SHORTEST);
  say(!drives ? "The studio is being used elsewhere."
      : countdown ? "Get ready… " + countdown
      : status === STATUS.recording ? "Recording"
      : status === STATUS.playing ? "Playing your greeting"
      : status === STATUS.sending ? "Sending your greeting"
      : status === STATUS.loadingSkin ? "Putting on the skin…"
      : status === STATUS.ready ? (recorded ? "Recorded. Play it, or send it." : "Ready to record")
      : "The studio is starting…");
}

// The REC mark's time against the recording's limit; the trim handles over each new take.
function onStatus() {
  const recording = ctl.ClientStatus === STATUS.recording;
  if (!recording && timer) {
    clearInterval(timer);
    timer = 0;
    ctl.TakeSeconds().catch(() => 0).then((seconds) => { trimmer.show(seconds); follow(); });
  }
  if (recording && !timer) {
    recorded = true;
    const since = performance.now();
    const tick = () => { $("rec-time").textContent = fmt((performance.now() - since) / 1000) + " of " + fmt(ctl.SecondsLimit); };
    tick();
    timer = setInterval(tick, 250);
  }
  follow();
}

async function record() {
  $("outcome").textContent = "";
  for (const n of [3, 2, 1]) {
    countdown = n;
    follow();
    await new Promise((r) => setTimeout(r, 1000));
    if (!countdown) return follow();  // Stop during the countdown
  }
  countdown = 0;
  act(ctl.RecordVideo());
}

function stop() {
  if (countdown) countdown = 0;
  else act(ctl.StopVideo());
  follow();
}

const act = (promise) => promise.catch((e) => { $("outcome").textContent = e.description || String(e); });

function show(name) {
  for (const [key, element] of Object.entries(windows)) element.hidden = key !== name;
}

async function claim(takeover) {
  drives = await ctl.claim(takeover).catch(() => false);
  $("take-over").hidden = drives;
  follow();
}

async function connect() {
  $("connect").disabled = true;
  $("outcome").textContent = "";
  say("Looking for the studio on your computer…");
  const studio = new URLSearchParams(location.search).get("studio") || "";
  try {
    ctl = await Movilettas.connect({ base: studio });
  } catch (e) {
    $("connect").disabled = false;
    return say(e.number === 70 ? "You did not allow this site to use the studio."
               : e.description + " Start it, then try again.");
  }
  $("start").hidden = true;
  $("studio").hidden = false;
  windows.capture = ctl.videoElement("capture");
  windows.player = ctl.videoElement("player");
  $("screen").replaceChildren(windows.capture, windows.player);
  show("capture");
  trimmer = new MovilettaTrimmer(ctl, $("trim"));
  trimmer.addEventListener("refused", (e) => { $("outcome").textContent = e.detail.error.description; });
  for (const skin of await ctl.skins().catch(() => [])) $("skin").add(new Option(skin.name, skin.id));

  ctl.addEventListener("StatusChanged", onStatus);
  ctl.addEventListener("front", (e) => { if (windows[e.detail.window]) show(e.detail.window); });
  ctl.addEventListener("sendstart", () => { progress ||= new MovilettaSendProgress("Sending"); });
  ctl.addEventListener("progress", (e) => {
    if (!progress) return;  // work done ahead of a send, or a send that has ended
    $("progress").hidden = false;
    $("progress").textContent = progress.update(e.detail).text;
  });
  ctl.addEventListener("panel", (e) => { $("progress").hidden = !e.detail.visible; });
  ctl.addEventListener("sendresult", (e) => {
    progress = null;
    failure = e.detail.sent ? "" : e.detail.explanation;
    $("outcome").textContent = e.detail.sent ? "Your greeting is on its way."
                                             : "Not sent: " + plainMailFailure(e.detail.explanation);
  });
  // The studio waits until the page that drives it closes each of its messages; a send's failure
  // is told once, in the outcome above.
  ctl.addEventListener("messagebox", (e) => {
    if (!drives) return;
    if (e.detail.text === failure) return ctl.acknowledge(e.detail.id);
    $("box-text").textContent = e.detail.text;
    $("box").showModal();
    $("box").addEventListener("close", () => ctl.acknowledge(e.detail.id), { once: true });
  });
  ctl.addEventListener("driver", (e) => {
    drives = e.detail.page === ctl.page;
    if (!e.detail.page) claim(false);
    $("take-over").hidden = drives;
    follow();
  });
  const lost = (why) => {
    drives = false;
    follow();
    say(why);
    $("start").hidden = false;
    $("connect").disabled = false;
  };
  ctl.addEventListener("revoked", () => lost("This site is no longer allowed to use the studio."));
  ctl.addEventListener("disconnected", () => {
    if (ctl.connection === EventSource.CLOSED) lost("The studio no longer answers this page.");
    else say("The studio program on your computer is not running. This page reconnects when it is back.");
  });
  ctl.addEventListener("connected", () => claim(false));
  addEventListener("pagehide", () => ctl.release());
  ctl.ClientStatus = await ctl.call("ClientStatus", [], "get").catch(() => STATUS.starting);
  await claim(false);
}

$("connect").addEventListener("click", connect);
$("take-over").addEventListener("click", () => claim(true));
$("record").addEventListener("click", record);
$("stop").addEventListener("click", stop);
$("play").addEventListener("click", () => act(ctl.PlayVideo()));
$("skin").addEventListener("change", () => act(ctl.LoadSkin(Number($("skin").value))));
$("send").addEventListener("submit", (e) => {
  e.preventDefault();
  const f = e.target.elements;
  for (const input of [f.name, f.email, f.friend, f.friendEmail]) {
    input.setCustomValidity(/[,;]/.test(input.value) ? "Commas and semicolons cannot be used here." : "");
    if (!input.reportValidity()) return;
  }
  $("outcome").textContent = "";
  progress = new MovilettaSendProgress();
  const recipient = [f.friend.value.trim(), "", f.friendEmail.value.trim()].join(",");
  // The part of the take that the handles show: the send waits for the trims still on their way.
  act(trimmer.settled().then(() => ctl.SendGreeting(0, f.name.value.trim(), f.email.value.trim(), recipient,
                                                    f.message.value, "1", 0)));
});
