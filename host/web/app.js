// SPDX-License-Identifier: GPL-3.0-or-later
// The studio page: one stage at a time (starting, ready, countdown, recording, review, playing,
// sending, outcome), buttons that follow it and say why they are off, errors in plain words with
// the technical text under "Details", and one tab driving the control at a time. A send always
// sends the form and the recording as they are; a greeting kept in the outbox goes again only
// from a button that says so. This file holds the page's state, its words for failures, the
// stages and recording; the scripts loaded after it add the driving page (driver.js), the skins,
// the send forms (sending.js), the outbox, the allowed sites, the devices and the trim.
"use strict";

const token = new URLSearchParams(location.search).get("token");
// The question a site's page opens (consent.html) asks the studio's open pages for this studio's
// token. Nothing of it is kept in the browser's storage, where a program that takes this port
// after the studio could read it.
localStorage.removeItem("moviletta.token");
if ("BroadcastChannel" in window) {
  const launch = new BroadcastChannel("moviletta-launch");
  launch.onmessage = (e) => { if (e.data && e.data.ask) launch.postMessage({ token }); };
  launch.postMessage({ token });
}
const ctl = new Movilettas(token);
const $ = (id) => document.getElementById(id);

const STATUS = { starting: 0, ready: 1, loadingSkin: 2, recording: 3, playing: 4, sending: 5 };
const SKIN_LOAD_LIMIT_MS = 10000;
const kept = (key, fallback) => JSON.parse(sessionStorage.getItem("moviletta." + key) || "null") ?? fallback;
const keep = (key, value) => sessionStorage.setItem("moviletta." + key, JSON.stringify(value));

const page = {
  stage: "starting",
  take: kept("take", null),  // the last recording: {seconds, at}, kept over a reload
  sending: false,
  lastSend: null,            // {kind, to}: the last send asked for from the forms
  keptId: "",                // the outbox entry of the last send that failed after its mail went
  findKept: false,           // that entry is to be named once the control has settled it
  progress: null,            // the words of the running send's progress
  lastFailure: "",           // the explanation of the last failed result
  outbox: [],                // the greetings not sent yet, as the control lists them
  outboxTimer: 0,
  sendsStarted: 0,
  sendMark: 0,               // sendsStarted when the latest send was asked for
  mailing: 0,                // the send of the latest "sendstart"
  startedAt: 0,
  pausedAt: 0,               // when the running recording was paused; 0 while it records
  pausedFor: 0,              // milliseconds the running recording has been paused before
  timer: 0,
  skinTimer: 0,
  skins: [],                 // the greeting server's catalogue
  skinOn: -1,                // the skin that is on, -1 for none
  skinAsked: null,           // the skin asked for, until the control says whether it is on
  returnFocus: null,         // where focus goes back once the step it started has ended
  drives: false,
  away: false,                // the studio program does not answer
  drivenBefore: false,       // this page has driven the control
  takenOver: false,          // another page took the control from this one
  driverOrigin: "",          // the site whose page drives the control, if one does
};
// Every status the page has seen, in order (a short one might otherwise go unnoticed).
const statusHistory = [];

const fmt = (seconds, options) => Movilettas.formatTime(seconds, options);
const announce = (text) => { $("announce").textContent = text; };

// ---- Words for what went wrong ----

function plainError(e) {
  const number = e && e.number, text = (e && e.description) || String(e);
  if (number === 0) return "The studio program is not running. Start it again; this page reconnects by itself.";
  if (number === 409) return "Another tab is using the studio.";
  if (number === 503) return "The studio program is busy or closing. Try again in a moment.";
  if (/^Can't Record/.test(text)) return "Recording can start once the current step has finished.";
  if (/^Can't Play/.test(text)) return "Playback can start once the current step has finished.";
  if (/^Can't Load skin/.test(text)) return "A skin can be chosen once the current step has finished.";
  if (/^Can't Send/.test(text)) return "Sending can start once the current step has finished.";
  if (/^Can't Trim/.test(text)) return "The take can be trimmed once the current step has finished.";
  if (number === 53 || number === 76) return "There is no recording to use yet. Record a greeting first.";
  if (isTechnical(text) && unreachable(text))
    return "The greeting server could not be reached. Check the connection and try again.";
  if (isTechnical(text)) return "The greeting server did not answer as expected. Try again in a moment.";
  return "Something went wrong: " + text;
}

// The mail library's explanations are technical; the control's own sentences are not.
const isTechnical = (text) => /smtp|curl|connect|port \d|\b[45]\d\d\b|https?:|server reply/i.test(text);
// A server that could not be reached, in the words of libcurl and of the control.
const unreachable = (text) => /connect|resolve|timed? ?out|reach/i.test(text);

function plainMailFailure(text) {
  if (!isTechnical(text)) return text;
  if (unreachable(text))
    return "The mail server could not be reached. Check the connection and try again.";
  if (/auth|login|password|535/i.test(text))
    return "The mail server did not accept the studio's login.";
  if (/^5\d\d|refus|reject|denied/i.test(text))
    return "The mail server refused the greeting.";
  if (/\b4\d\d\b|try (again )?later/i.test(text))
    return "The mail server could not take the greeting just now.";
  return "The greeting could not be sent.";
}

function showNotice(text, technical = "", actions = []) {
  $("notice-text").textContent = text;
  $("notice-tech").textContent = technical;
  $("notice-details").hidden = !technical;
  $("notice-actions").replaceChildren(...actions.map(([label, act]) => {
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = label;
    button.addEventListener("click", act);
    return button;
  }));
  $("notice").hidden = false;
}
const clearNotice = () => { $("notice").hidden = true; };

// Says so when the studio has not answered `promise` (`what` the visitor asked for) within a
// second, and takes the words back once it has.
function sayIfSlow(promise, what) {
  const words = "The studio has not answered " + what + " yet. It may be busy; this goes on by itself once it answers.";
  const timer = setTimeout(() => showNotice(words), 1000);
  return promise.finally(() => {
    clearTimeout(timer);
    if ($("notice-text").textContent === words) clearNotice();
  });
}

// Runs a page action: the notice of the last one goes, a failure gets its own.
const run = (promise) => promise.catch((e) => showNotice(plainError(e), e.description || String(e)));

// ---- Stages ----

const STAGE_TEXT = {
  starting: "Starting…",
  ready: "Ready to record",
  countdown: "Get ready…",
  recording: "Recording",
  review: "Review your greeting",
  playing: "Playing your greeting",
  loadingSkin: "Putting on the skin…",
  sending: "Sending your greeting",
  failed: "The studio could not start",
};

function setStage(stage) {
  if (page.stage === stage) return;
  const was = page.stage;
  page.stage = stage;
  $("stage").dataset.stage = stage;
  $("stage-name").textContent = STAGE_TEXT[stage];
  announce(STAGE_TEXT[stage]);
  $("rec").hidden = stage !== "recording";
  $("count").hidden = stage !== "countdown";
  clearInterval(page.timer);
  page.startedAt = performance.now();
  const paused = pausedMs(page.startedAt);
  page.pausedAt = page.pausedFor = 0;
  if (stage === "recording") {
    tick();
    page.timer = setInterval(tick, 250);
  } else if (stage === "playing") {
    playTick();
    page.timer = setInterval(playTick, 250);
  }
  if (was === "recording" && page.take) {
    // Timed by the page from the status it was told until the studio tells its length.
    page.take.seconds = Math.min(Math.round((performance.now() - page.take.since - paused) / 1000),
                                 ctl.SecondsLimit || Infinity);
    keep("take", page.take);
    measureTake(page.take);
  }
  clearTimeout(page.skinTimer);
  if (stage === "loadingSkin") page.skinTimer = setTimeout(skinTooSlow, SKIN_LOAD_LIMIT_MS);
  showTake();
  follow();
}

async function measureTake(take) {
  const seconds = await ctl.TakeSeconds().catch(() => 0);
  if (seconds > 0 && page.take === take) {
    take.seconds = seconds;
    keep("take", take);
    showTake();
  }
}

// A studio that was away may have been restarted, and a new studio does not hold the take this
// page shows: the take stays only while the studio has it to play and send.
async function checkTake() {
  const take = page.take;
  if (!take || (await ctl.TakeSeconds().catch(() => null)) !== 0 || page.take !== take) return;
  page.take = null;
  keep("take", null);
  onStatus();
  showNotice("The studio was restarted and no longer has your last take. Record it again.");
}

// The take's length as it is sent.
const takeLength = (take) => take.trim ? take.trim.end - take.trim.start : take.seconds;

// How long the running recording has been paused, until `now`.
const pausedMs = (now) => page.pausedFor + (page.pausedAt ? now - page.pausedAt : 0);

// The recorded time: the wall time less the pauses.
function tick() {
  const now = performance.now();
  const elapsed = (now - page.startedAt - pausedMs(now)) / 1000;
  const limit = ctl.SecondsLimit || 0;
  $("elapsed").textContent = fmt(elapsed);
  $("limit").textContent = fmt(limit);
  $("remaining").textContent = fmt(limit - elapsed, { up: true });
}

function playTick() {
  const total = page.take ? takeLength(page.take) : 0;
  const played = Math.min((performance.now() - page.startedAt) / 1000, total);
  $("play-elapsed").textContent = fmt(played);
  $("play-total").textContent = fmt(total);
  $("play-bar").value = total ? Math.round(played / total * 1000) : 0;
  $("play-bar").setAttribute("aria-valuetext", fmt(played) + " of " + fmt(total));
}

// In review the stage shows the take (its first moment) and its length; the live picture
// comes back with Record.
function showTake() {
  const review = page.stage === "review" && !!page.take;
  $("review-mark").hidden = !review;
  $("play-time").hidden = page.stage !== "playing";
  if (page.take) $("take-length").textContent = fmt(takeLength(page.take));
  if (review) showStill(page.take.trim ? page.take.trim.start : 0);
  $("still").hidden = !review;
  $("play-bar").hidden = page.stage !== "playing";
  document.dispatchEvent(new Event("takechanged"));
}

// The still shows the take's picture at `start` seconds: where the greeting sent begins.
function showStill(start) {
  const still = $("still"), key = page.take.at + "/" + start;
  if (still.dataset.key === key) return;
  still.dataset.key = key;
  still.src = ctl.address("/take/snapshot") + "&at=" + page.take.at + (start > 0 ? "&from=" + start : "");
}

function skinTooSlow() {
  if (ctl.ClientStatus !== STATUS.loadingSkin) return;
  run(ctl.StopVideo());
  skinFailed("the greeting server did not deliver it in time");
}

// Why a button is off, in words that its description carries to screen readers too.
function explain(id, on, why) {
  $(id).disabled = !on;
  $(id + "-why").textContent = on ? "" : why;
  $(id).title = on ? "" : why;
}

// Buttons and fields follow the stage: nothing that the control would refuse is offered.
function follow() {
  const focused = document.activeElement;
  const status = ctl.ClientStatus, idle = status === STATUS.ready && page.stage !== "countdown";
  const live = page.drives && !page.away;
  const busy = page.away ? "The studio program is not running."
      : !page.drives ? "Another tab or site is using the studio."
      : page.stage === "starting" || page.stage === "failed" ? "The studio is not ready yet."
      : page.sending || status === STATUS.sending ? "Wait until the greeting is sent."
      : status === STATUS.recording || page.stage === "countdown" ? "Stop the recording first."
      : status === STATUS.playing ? "Stop the playback first."
      : status === STATUS.loadingSkin ? "Wait until the skin is on." : "";
  const hasTake = !!page.take;
  explain("record", !busy && idle, busy);
  const recordingNow = status === STATUS.recording || page.stage === "countdown";
  $("record").textContent = hasTake && !recordingNow ? "Record again" : "Record";
  const stoppable = status === STATUS.recording || status === STATUS.playing ||
                    status === STATUS.loadingSkin || page.stage === "countdown";
  explain("stop", live && stoppable, "Nothing is being recorded or played.");
  $("pause").hidden = status !== STATUS.recording;
  $("pause").disabled = !live;
  $("pause").textContent = page.pausedAt ? "Resume" : "Pause";
  const needsTake = hasTake ? busy : busy || "Record a greeting first.";
  explain("play", !needsTake && idle, needsTake);
  $("play").textContent = page.stage === "review" && statusHistory.includes(STATUS.playing) ? "Play again" : "Play";
  for (const id of ["send", "send-mobile"]) explain(id, !needsTake && idle, needsTake);
  for (const button of document.querySelectorAll("#outbox-list .again"))
    button.disabled = !live || !idle || page.sending || button.closest("li").dataset.sending === "true";
  $("send-kept").disabled = !live || !idle || page.sending;
  $("try-again").disabled = !live || !idle || page.sending;
  $("cancel-send").hidden = !live;
  for (const radio of document.querySelectorAll("#skin-list input")) radio.disabled = !live || !idle;
  $("mirror").disabled = !live || status === STATUS.starting;
  // A device chosen during a recording or a send would change under it.
  const devicesHeld = !live || status === STATUS.recording || status === STATUS.sending || page.stage === "countdown";
  for (const id of ["camera", "microphone"]) $(id).disabled = devicesHeld;
  $("camera-size").disabled = devicesHeld || !$("camera").value;
  if (focused && focused !== document.body && (focused.disabled || focused.hidden || !focused.isConnected))
    rescueFocus();
}

// Focus that a step took away (its button turned off) goes back where the step began, else to
// the control that now matters; it never falls to the page itself.
function rescueFocus() {
  if (document.querySelector("dialog[open]")) return;
  const usable = (element) => element && element.isConnected && !element.disabled && element.offsetParent;
  const next = usable(page.returnFocus) ? page.returnFocus
      : ["countdown", "recording", "playing", "loadingSkin"].includes(page.stage) ? $("stop")
      : page.stage === "review" ? $("play")
      : page.stage === "sending" || page.sending ? $("cancel-send") : $("record");
  if (next === page.returnFocus) page.returnFocus = null;
  if (usable(next)) next.focus();
}

function onStatus() {
  const status = ctl.ClientStatus;
  if (statusHistory[statusHistory.length - 1] !== status) statusHistory.push(status);
  if (status === STATUS.recording && page.stage !== "recording")
    page.take = { seconds: 0, at: Date.now(), since: performance.now() };
  if (status !== STATUS.loadingSkin) clearTimeout(page.skinTimer);
  resizeStage();
  if (page.stage === "failed") return follow();
  if (status === STATUS.starting) setStage("starting");
  else if (status === STATUS.recording) setStage("recording");
  else if (status === STATUS.playing) setStage("playing");
  else if (status === STATUS.loadingSkin) setStage("loadingSkin");
  else if (status === STATUS.sending) setStage("sending");
  else if (page.stage !== "countdown") setStage(page.take ? "review" : "ready");
  follow();
}

function resizeStage() {
  const width = ctl.VideoWidth || 320, height = ctl.VideoHeight || 240;
  $("stage").style.setProperty("--video-width", width + "px");
  $("stage").style.aspectRatio = width + " / " + height;
}

// ---- Recording ----

async function record() {
  clearNotice();
  $("outcome").hidden = true;
  page.returnFocus = $("play");
  if ($("countdown").checked) {
    setStage("countdown");
    $("stop").focus();
    for (const n of [3, 2, 1]) {
      $("count").textContent = n;
      announce(String(n));
      await new Promise((r) => setTimeout(r, 1000));
      if (page.stage !== "countdown") return;  // Stop during the countdown
    }
  }
  page.stage = "";  // the control's status events take over from here
  const call = ctl.RecordVideo();
  $("stop").focus();
  run(call).finally(() => { if (ctl.ClientStatus === STATUS.ready) onStatus(); });
}

function stop() {
  clearNotice();
  if (page.stage === "countdown") {
    page.returnFocus = $("record");
    setStage(page.take ? "review" : "ready");
    return;
  }
  run(ctl.StopVideo());
}

// Holds the recording, or goes on with it; the timer and the limit count recorded time only.
async function pauseOrResume() {
  clearNotice();
  const pausing = !page.pausedAt;
  const done = await run((pausing ? ctl.PauseVideo() : ctl.ResumeVideo()).then(() => true));
  if (!done || page.stage !== "recording") return;
  const now = performance.now();
  [page.pausedFor, page.pausedAt] = pausing ? [page.pausedFor, now] : [pausedMs(now), 0];
  tick();
  $("stage-name").textContent = pausing ? "Paused" : STAGE_TEXT.recording;
  announce(pausing ? "Paused" : "Recording again");
  follow();
}

function play() {
  clearNotice();
  page.returnFocus = $("play");
  const call = ctl.PlayVideo();
  $("stop").focus();
  run(call);
}

// ---- Events from the control and the host ----

ctl.addEventListener("StatusChanged", onStatus);
ctl.addEventListener("ErrMsgChanged", () => {
  if (/^Can't /.test(ctl.ErrMsg)) showNotice(plainError({ description: ctl.ErrMsg }), ctl.ErrMsg);
});
ctl.addEventListener("startup", (e) => {
  const { state, detail } = e.detail;
  if (state === "starting") {
    setStage("starting");
    $("stage-name").textContent = "Starting: " + detail + "…";
  } else if (state === "failed") {
    setStage("failed");
    showNotice("The studio could not start." +
               (unreachable(detail) ? " The greeting server cannot be reached." : ""),
               detail, [["Retry", () => { clearNotice(); page.stage = "starting"; ctl.restart(); }]]);
  } else {
    if (page.stage === "failed") page.stage = "starting";
    onStatus();
    refreshOutbox();
    loadSkins();  // the greeting server may have been down before
  }
});
ctl.addEventListener("progress", (e) => {
  // The bar is a send's: the work done ahead of one, and what a send that ended still tells,
  // are not shown on it.
  if (!page.progress) {
    if (ctl.ClientStatus !== STATUS.sending || !page.sending) return;
    page.progress = new MovilettaSendProgress("Sending");  // a send this page has joined late
  }
  const shown = page.progress.update(e.detail);
  $("bar").value = shown.value;
  $("bar-label").textContent = shown.text;
});
ctl.addEventListener("panel", (e) => {
  $("panel").hidden = !e.detail.visible;
  // The send's button turned off under the focus before the bar showed: its Cancel takes it.
  if (e.detail.visible && page.drives && document.activeElement === document.body) $("cancel-send").focus();
  // The words under the Send used stay above the bar.
  if (e.detail.visible && page.sending) document.querySelector(".send form:not([hidden]) .hint")?.scrollIntoView({ block: "nearest" });
  // A send's end hides the panel once the control has settled its outbox entry: the result
  // event comes before that.
  if (!e.detail.visible) refreshOutbox();
});
ctl.addEventListener("front", (e) => { if (e.detail.window !== "panel") showWindow(e.detail.window); });
ctl.addEventListener("nosound", (e) => {
  $("sound-note").hidden = false;
  $("sound-note").title = e.detail.detail;
});
ctl.addEventListener("sendstart", (e) => {
  refreshOutbox();
  page.sendsStarted += 1;
  page.sending = true;
  page.mailing = e.detail.send;
  page.progress ||= new MovilettaSendProgress("Sending");  // a send another page started
  follow();
});
const loadedAt = Date.now();
// A result from before this page was loaded is history, not news; but it ends the send that a
// reconnecting page is told of first.
ctl.addEventListener("sendresult", (e) => {
  if (e.detail.at >= loadedAt - 2000) return showOutcome(e.detail);
  if (e.detail.send !== page.mailing) return;
  page.sending = false;
  follow();
});
// The control's message boxes, one at a time, shown only by the page that drives it. The box
// that tells a send's failure is said once, in the outcome.
const boxes = [];
ctl.addEventListener("messagebox", (e) => {
  refreshOutbox();  // a failed mail is in the outbox before its box opens
  const { id, text } = e.detail;
  const mailWent = page.sendsStarted !== page.sendMark;
  if (page.drives && page.sending && !mailWent) {
    ctl.acknowledge(id);  // the send ended before its mail went: no result event follows
    return showOutcome({ sent: false, explanation: text }, false);
  }
  if (page.drives && text === page.lastFailure) return ctl.acknowledge(id);
  boxes.push({ id, text });
  showNextBox();
});

function showNextBox() {
  if (!page.drives || $("box").open || !boxes.length) return;
  const { id, text } = boxes.shift();
  const returnTo = document.activeElement;
  $("box-title").textContent = "Message";
  $("box-text").textContent = plainMailFailure(text);
  $("box-tech").textContent = text;
  $("box-details").hidden = !isTechnical(text);
  $("box").showModal();
  $("box-ok").focus();
  $("box").addEventListener("close", () => {
    ctl.acknowledge(id);
    if (returnTo && returnTo !== document.body && !returnTo.disabled) returnTo.focus();
    else rescueFocus();
    showNextBox();
  }, { once: true });
}

// ---- Wiring ----

function showWindow(name) {
  ctl.showWindow($("window"), name);
  $("window").alt = name === "player" ? "Your recorded greeting" : "Camera picture";
  $("stage").dataset.window = name;
}

// The events tell the status too; a control that did not start refuses this read, and the
// "startup" event says why.
function readStatus() {
  return ctl.call("ClientStatus", [], "get").then((status) => {
    ctl.ClientStatus = status;
    onStatus();
    refreshOutbox();
  }, (e) => { if (e.number === 0) showNotice(plainError(e), e.description); });
}

$("record").addEventListener("click", record);
$("stop").addEventListener("click", stop);
$("pause").addEventListener("click", pauseOrResume);
$("play").addEventListener("click", play);
$("mirror").addEventListener("change", () => { clearNotice(); run(ctl.setMiror($("mirror").checked)); });

showWindow("capture");
// The answer uses what the page's later scripts define: asked once they have all run.
if (document.readyState === "loading") addEventListener("DOMContentLoaded", readStatus, { once: true });
else readStatus();
