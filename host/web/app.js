// The studio page: one stage at a time (starting, ready, countdown, recording, review, playing,
// sending, outcome), buttons that follow it and say why they are off, errors in plain words with
// the technical text under "Details", and one tab driving the control at a time. A send always
// sends the form and the recording as they are; a greeting kept in the outbox goes again only
// from a button that says so.
"use strict";

const token = new URLSearchParams(location.search).get("token");
// The question a site's page opens (consent.html) answers with this studio's token.
localStorage.setItem("moviletta.token", token);
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
  progress: null,            // the words of the running send's progress
  lastFailure: "",           // the explanation of the last failed result
  outbox: [],                // the greetings not sent yet, as the control lists them
  outboxTimer: 0,
  sendsStarted: 0,
  sendMark: 0,               // sendsStarted when the latest send was asked for
  startedAt: 0,
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

const fmt = (seconds) => {
  const s = Math.max(0, Math.floor(seconds));
  return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0");
};
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
  if (stage === "recording") {
    tick();
    page.timer = setInterval(tick, 250);
  } else if (stage === "playing") {
    playTick();
    page.timer = setInterval(playTick, 250);
  }
  if (was === "recording" && page.take) {
    // Timed by the page from the status it was told until the studio tells its length.
    page.take.seconds = Math.min(Math.round((performance.now() - page.take.since) / 1000), ctl.SecondsLimit || Infinity);
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

// The take's length as it is sent.
const takeLength = (take) => take.trim ? take.trim.end - take.trim.start : take.seconds;

function tick() {
  const elapsed = (performance.now() - page.startedAt) / 1000;
  const limit = ctl.SecondsLimit || 0;
  $("elapsed").textContent = fmt(elapsed);
  $("limit").textContent = fmt(limit);
  $("remaining").textContent = fmt(limit - elapsed);
}

function playTick() {
  const total = page.take ? takeLength(page.take) : 0;
  $("play-elapsed").textContent = fmt(Math.min((performance.now() - page.startedAt) / 1000, total));
  $("play-total").textContent = fmt(total);
}

// In review the stage shows the take (its first moment) and its length; the live picture
// comes back with Record.
function showTake() {
  const review = page.stage === "review" && !!page.take;
  $("review-mark").hidden = !review;
  $("play-time").hidden = page.stage !== "playing";
  if (page.take) $("take-length").textContent = fmt(takeLength(page.take));
  const still = $("still");
  if (review && still.dataset.at !== String(page.take.at)) {
    still.dataset.at = page.take.at;
    still.src = ctl.address("/take/snapshot") + "&at=" + page.take.at;
  }
  still.hidden = !review;
  document.dispatchEvent(new Event("takechanged"));
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
  $("record").textContent = hasTake ? "Record again" : "Record";
  const stoppable = status === STATUS.recording || status === STATUS.playing ||
                    status === STATUS.loadingSkin || page.stage === "countdown";
  explain("stop", live && stoppable, "Nothing is being recorded or played.");
  const needsTake = hasTake ? busy : busy || "Record a greeting first.";
  explain("play", !needsTake && idle, needsTake);
  $("play").textContent = page.stage === "review" && statusHistory.includes(STATUS.playing) ? "Play again" : "Play";
  for (const id of ["send", "send-mobile"]) explain(id, !needsTake && idle, needsTake);
  for (const button of document.querySelectorAll("#outbox-list .again"))
    button.disabled = !live || !idle || page.sending || button.closest("li").dataset.sending === "true";
  $("send-kept").disabled = !live || !idle || page.sending;
  $("try-again").disabled = !live || !idle || page.sending;
  for (const radio of document.querySelectorAll("#skin-list input")) radio.disabled = !live || !idle;
  $("mirror").disabled = !live || status === STATUS.starting;
  // A device chosen during a recording or a send would change under it.
  const devicesHeld = !live || status === STATUS.recording || status === STATUS.sending || page.stage === "countdown";
  for (const id of ["camera", "microphone"]) $(id).disabled = devicesHeld;
  $("camera-size").disabled = devicesHeld || !$("camera").value;
  if (focused && focused !== document.body && (focused.disabled || !focused.isConnected)) rescueFocus();
}

// Focus that a step took away (its button turned off) goes back where the step began, else to
// the control that now matters; it never falls to the page itself.
function rescueFocus() {
  if (document.querySelector("dialog[open]")) return;
  const usable = (element) => element && element.isConnected && !element.disabled && element.offsetParent;
  const next = usable(page.returnFocus) ? page.returnFocus
      : ["countdown", "recording", "playing", "loadingSkin"].includes(page.stage) ? $("stop")
      : page.stage === "review" ? $("play")
      : page.stage === "sending" ? $("panel") : $("record");
  if (next === page.returnFocus) page.returnFocus = null;
  if (usable(next) || next === $("panel")) next.focus();
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

function play() {
  clearNotice();
  page.returnFocus = $("play");
  const call = ctl.PlayVideo();
  $("stop").focus();
  run(call);
}

// ---- Skins ----

async function loadSkins() {
  let skins = [], note = "";
  try {
    skins = await ctl.skins();
    if (!skins.length) note = "This greeting server lists no skins.";
  } catch (e) {
    note = "The skins could not be fetched from the greeting server.";
  }
  $("skin-note").textContent = note;
  $("skin-note").hidden = !note;
  // The same list again keeps its buttons, and the one with focus.
  if (JSON.stringify(skins) === JSON.stringify(page.skins) && $("skin-list").children.length) return;
  page.skins = skins;
  const choices = [{ id: -1, name: "No skin" }, ...skins];
  $("skin-list").replaceChildren(...choices.map((skin) => {
    const label = document.createElement("label");
    label.className = "skin";
    const input = document.createElement("input");
    input.type = "radio";
    input.name = "skin";
    input.value = skin.id;
    label.append(input);
    if (skin.thumbnail) {
      const img = document.createElement("img");
      img.src = skin.thumbnail;
      img.alt = "";
      label.append(img);
    }
    label.append(document.createTextNode(skin.name));
    return label;
  }));
  markSkinOn();
  follow();
}

// The list shows the skin that is on, whatever was picked last.
function markSkinOn() {
  const radio = document.querySelector(`#skin-list input[value="${page.skinOn}"]`) ||
                document.querySelector("#skin-list input[value='-1']");
  if (radio) radio.checked = true;
}

function chooseSkin(input) {
  clearNotice();
  page.skinAsked = Number(input.value);
  page.returnFocus = input;
  run(ctl.LoadSkin(page.skinAsked).catch((e) => {
    page.skinAsked = null;
    markSkinOn();
    throw e;
  }));
}

function skinFailed(why) {
  const skin = page.skins.find((s) => s.id === page.skinAsked);
  page.skinAsked = null;
  markSkinOn();
  showNotice("The skin " + (skin ? "“" + skin.name + "” " : "") + "could not be put on: " + why +
             ". Choose another one, or record without a skin.");
}

// The control tells which skin is on each time it changes; while the asked one downloads, a
// placeholder is on.
ctl.addEventListener("skin", (e) => {
  const asked = page.skinAsked, on = e.detail.on ? e.detail.id : -1;
  page.skinOn = on;
  if (asked === null || on === asked) {
    page.skinAsked = null;
    markSkinOn();
  } else if (on === -1) {
    skinFailed("the greeting server did not deliver it");
  }
});

$("skin-list").addEventListener("click", (e) => {
  // A pointer click chooses; the arrow keys only move the selection (their clicks have no detail).
  if (e.target.matches("input[type=radio]") && e.detail > 0) chooseSkin(e.target);
});
$("skin-list").addEventListener("keydown", (e) => {
  if (e.target.matches("input[type=radio]") && (e.key === "Enter" || e.key === " ")) {
    e.preventDefault();
    e.target.checked = true;
    chooseSkin(e.target);
  }
});

// ---- Recipients ----

function addRecipient() {
  const row = $("recipient-row").content.firstElementChild.cloneNode(true);
  const rows = $("recipients");
  row.querySelector(".remove").addEventListener("click", () => {
    if (rows.children.length > 1) row.remove();
    rows.querySelector("input").focus();
  });
  rows.append(row);
  return row;
}

// The HTML standard's rule for one e-mail address.
const EMAIL = /^[a-zA-Z0-9.!#$%&'*+/=?^_`{|}~-]+@[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?(?:\.[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)*$/;
const addressList = (text) => text.split(/[,;]/).map((a) => a.trim()).filter(Boolean);

// The fields' own checks; no field may hold the list's separators, but a list of addresses
// names each wrong one.
function checked(inputs) {
  for (const input of inputs) {
    let problem = "";
    if (input.name === "emails") {
      const wrong = addressList(input.value).filter((a) => !EMAIL.test(a));
      if (wrong.length)
        problem = wrong.map((a) => "“" + a + "”").join(", ") +
                  (wrong.length > 1 ? " are not e-mail addresses." : " is not an e-mail address.");
    } else if (/[,;]/.test(input.value)) {
      problem = "Commas and semicolons cannot be used here.";
    }
    input.setCustomValidity(problem);
    if (!input.checkValidity()) {
      input.reportValidity();
      input.focus();
      return false;
    }
  }
  return true;
}

const senderFields = () => [$("sender-name"), $("sender-email")];

function recipientRows() {
  return [...$("recipients").children].map((row) => {
    const [name, mobile, email] = ["r-name", "r-mobile", "r-email"].map((n) => row.querySelector(`[name=${n}]`).value.trim());
    return { name, mobile, email };
  });
}

// "Bob <bob@example.com>, Carol <carol@example.com>" from the control's list text.
function namedRecipients(list) {
  return list.split(";").filter(Boolean).map((entry) => {
    const [name = "", , email = ""] = entry.split(",");
    return email ? name + " <" + email + ">" : name;
  }).join(", ");
}

// Who an outbox entry is for, in words.
const entryRecipients = (entry) => entry.label === "MovilettaStudio" ? namedRecipients(entry.recipients) : entry.recipients;

function send(kind) {
  const m = $("mobile").elements;
  const fields = kind === "greeting"
      ? [...senderFields(), ...$("recipients").querySelectorAll("input")]
      : [...senderFields(), m.recipient, m.mobile, m.emails];
  if (!checked(fields)) return;
  const [name, email, message] = [$("sender-name").value.trim(), $("sender-email").value.trim(), $("sender-message").value];
  if (kind === "greeting") {
    const list = recipientRows().map((r) => [r.name, r.mobile, r.email].join(",")).join(";");
    page.lastSend = { kind, to: namedRecipients(list) };
    startSend(() => ctl.SendGreeting(0, name, email, list, message, "1", 0), new MovilettaSendProgress());
  } else {
    const copies = addressList(m.emails.value);
    page.lastSend = { kind, to: m.recipient.value.trim() + " (" + m.mobile.value.trim() + ")" +
                               (copies.length ? ", " + copies.join(", ") : "") };
    startSend(() => ctl.SendByEmail(name, email, m.recipient.value.trim(), m.mobile.value.trim(),
                                    copies.join(";"), message), new MovilettaSendProgress());
  }
}

function sendFromOutbox(id) {
  const entry = page.outbox.find((e) => e.id === id);
  page.lastSend = { kind: "outbox", to: entry ? entryRecipients(entry) : "" };
  startSend(() => ctl.OutboxSend(id), new MovilettaSendProgress("Sending"));
}

function startSend(makeCall, progress) {
  clearNotice();
  $("outcome").hidden = true;
  page.sending = true;
  page.progress = progress;
  $("bar").value = 0;
  $("bar-label").textContent = progress.phase + " 0 %";
  page.returnFocus = null;
  follow();
  const call = makeCall();
  const started = page.sendMark = page.sendsStarted;
  run(call).finally(() => {
    // A send refused before its mail went has no result event to end it.
    if (page.sendsStarted === started && ctl.ClientStatus !== STATUS.sending) page.sending = false;
    follow();
  });
}

// The one place that tells how a send ended, with the next step.
async function showOutcome(result, mailWent = true) {
  page.sending = false;
  page.lastFailure = result.sent ? "" : result.explanation;
  const to = page.lastSend ? page.lastSend.to : "";
  $("outcome").hidden = false;
  $("outcome").dataset.sent = result.sent;
  $("outcome-title").textContent = result.sent ? "Sent" : "Not sent";
  $("outcome-text").textContent = result.sent
      ? "Your greeting is on its way" + (to ? " to " + to : "") + "."
      : plainMailFailure(result.explanation) + (to ? " It was for " + to + "." : "") +
        (mailWent ? " It is kept below until it goes or you discard it." : " Your recording is kept.");
  $("outcome-tech").textContent = result.sent ? "" : result.explanation;
  $("outcome-details").hidden = result.sent || !isTechnical(result.explanation);
  $("send-kept").hidden = true;
  $("try-again").hidden = result.sent || mailWent || !page.lastSend || page.lastSend.kind === "outbox";
  announce(result.sent ? "Sent" : "Not sent");
  if (!$("box").open) $("outcome-title").focus();
  follow();
  await refreshOutbox();
  if (!result.sent && mailWent) {
    const waiting = page.outbox.filter((e) => !e.sending);
    page.keptId = waiting.length ? waiting[waiting.length - 1].id : "";
    $("send-kept").hidden = !page.keptId;
    follow();
  }
}

// ---- The outbox ----

const sizeText = (bytes) => bytes >= 1e6 ? (bytes / 1e6).toFixed(1) + " MB" : Math.ceil(bytes / 1e3) + " kB";
const firstWords = (text) => text.length > 60 ? text.slice(0, 60).replace(/\s+\S*$/, "") + "…" : text;

async function refreshOutbox() {
  try {
    page.outbox = await ctl.OutboxList();
  } catch (e) {
    return;  // a control that is not running has nothing to show
  }
  // The rows are made anew: the button that had focus keeps it.
  const focused = document.activeElement.closest ? document.activeElement.closest("#outbox-list li") : null;
  const focusClass = focused ? document.activeElement.className : "";
  $("outbox").hidden = !page.outbox.length;
  $("outbox-count").textContent = "(" + page.outbox.length + ")";
  $("outbox-list").replaceChildren(...page.outbox.map((entry) => {
    const row = $("outbox-row").content.firstElementChild.cloneNode(true);
    row.dataset.id = entry.id;
    row.dataset.sending = entry.sending;
    const what = entry.label === "MovilettaStudio" ? "Greeting" : "Mobile e-mail";
    row.querySelector(".label").textContent = what;
    row.querySelector(".to").textContent = entryRecipients(entry);
    row.querySelector(".words").textContent = entry.message ? "“" + firstWords(entry.message) + "”" : "";
    row.querySelector(".when").textContent = new Date(entry.when * 1000).toLocaleString();
    row.querySelector(".size").textContent = sizeText(entry.bytes);
    row.querySelector(".why").textContent = entry.sending ? "Sending…" : plainMailFailure(entry.explanation);
    row.querySelector(".why").title = entry.explanation;
    const named = what + " to " + entryRecipients(entry);
    row.querySelector(".again").setAttribute("aria-label", "Try again: " + named);
    row.querySelector(".discard").setAttribute("aria-label", "Discard: " + named);
    row.querySelector(".discard").disabled = entry.sending;
    row.querySelector(".again").addEventListener("click", () => sendFromOutbox(entry.id));
    row.querySelector(".discard").addEventListener("click", () => discard(entry, named));
    return row;
  }));
  if (focused) {
    const again = document.querySelector(`#outbox-list li[data-id="${focused.dataset.id}"] button.${focusClass.split(" ").pop()}`);
    if (again) again.focus();
  }
  if (!page.outbox.some((e) => e.id === page.keptId)) $("send-kept").hidden = true;
  // A send's result is told before the control has settled its entry: look again until it has.
  clearTimeout(page.outboxTimer);
  if (!page.sending && page.outbox.some((e) => e.sending)) page.outboxTimer = setTimeout(refreshOutbox, 300);
  follow();
}

// Asks the person before a step that cannot be undone; resolves to whether they said yes.
function confirmFirst(title, text, yes, no) {
  $("confirm-title").textContent = title;
  $("confirm-text").textContent = text;
  $("confirm-yes").textContent = yes;
  $("confirm-no").textContent = no;
  $("confirm").returnValue = "";
  $("confirm").showModal();
  return new Promise((resolve) => $("confirm").addEventListener(
      "close", () => resolve($("confirm").returnValue === "yes"), { once: true }));
}

// Asks first: a discarded greeting cannot be brought back.
function discard(entry, named) {
  const text = named + (entry.message ? ": “" + firstWords(entry.message) + "”" : "") +
               ". Its video is deleted and it cannot be brought back.";
  confirmFirst("Discard this greeting?", text, "Discard", "Keep it").then(async (yes) => {
    if (!yes) return;
    const at = page.outbox.findIndex((e) => e.id === entry.id);
    await run(ctl.OutboxDiscard(entry.id));
    await refreshOutbox();
    // Focus goes to the entry that took its place, else to the list, else to sending.
    const left = [...document.querySelectorAll("#outbox-list li .again")];
    const next = left[Math.min(at, left.length - 1)];
    (next && !next.disabled ? next : $(left.length ? "outbox-title" : "send-title")).focus();
  });
}

// ---- The sites the visitor allowed ----

async function refreshSites() {
  let sites = [];
  try {
    const response = await fetch("/sites", { headers: ctl.headers() });
    if (response.ok) sites = (await response.json()).sites;
  } catch (e) {
    return;
  }
  $("sites").hidden = !sites.length;
  $("site-list").replaceChildren(...sites.map(({ origin, server, kept = 0, bytes = 0 }) => {
    const row = document.createElement("li");
    const about = document.createElement("span");
    about.textContent = origin + (server && server !== origin ? ", greetings through " + server : "") +
                        (kept ? " — " + kept + (kept === 1 ? " greeting" : " greetings") + " kept, " + sizeText(bytes) : "");
    const button = (label, name, act) => {
      const b = document.createElement("button");
      b.type = "button";
      b.className = "secondary";
      b.textContent = label;
      b.setAttribute("aria-label", name);
      b.addEventListener("click", act);
      return b;
    };
    const actions = document.createElement("span");
    actions.className = "actions";
    actions.append(button("Revoke", "Revoke " + origin, () => revokeSite(origin)),
                   button("Revoke and delete its greetings", "Revoke and delete its greetings: " + origin,
                          () => confirmFirst("Revoke " + origin + " and delete its greetings?",
                                             "Its kept greetings and skins on this computer are deleted; they cannot be brought back.",
                                             "Revoke and delete", "Keep them")
                              .then((yes) => yes && revokeSite(origin, true))));
    row.append(about, actions);
    return row;
  }));
}
ctl.addEventListener("sites", refreshSites);

// The site's open pages lose the studio at once; when one drove it, this page takes it back.
const revokeSite = (origin, forget = false) => {
  if (origin === page.driverOrigin) page.takenOver = false;
  return fetch("/sites/revoke?origin=" + encodeURIComponent(origin) + (forget ? "&forget=1" : ""),
               { method: "POST", headers: ctl.headers() })
      .then(refreshSites, () => showNotice(plainError({ number: 0 })));
};

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
  $("bar").value = e.detail.value;
  $("bar-label").textContent = (page.progress || new MovilettaSendProgress()).text(e.detail);
});
ctl.addEventListener("panel", (e) => {
  $("panel").hidden = !e.detail.visible;
  // A send's end hides the panel once the control has settled its outbox entry: the result
  // event comes before that.
  if (!e.detail.visible) refreshOutbox();
});
ctl.addEventListener("front", (e) => { if (e.detail.window !== "panel") showWindow(e.detail.window); });
ctl.addEventListener("nosound", (e) => {
  $("sound-note").hidden = false;
  $("sound-note").title = e.detail.detail;
});
ctl.addEventListener("sendstart", () => {
  refreshOutbox();
  page.sendsStarted += 1;
  page.sending = true;
  page.progress ||= new MovilettaSendProgress("Sending");  // a send another page started
  follow();
});
const loadedAt = Date.now();
// A result from before this page was loaded is history, not news.
ctl.addEventListener("sendresult", (e) => { if (e.detail.at >= loadedAt - 2000) showOutcome(e.detail); });
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
ctl.addEventListener("driver", (e) => {
  const { page: driver, origin } = e.detail;
  page.drives = driver === ctl.page;
  if (!driver && !page.takenOver) return claim();  // free again, as after a reload elsewhere
  if (driver && driver !== ctl.page) {
    page.takenOver = page.drivenBefore;
    page.driverOrigin = origin;
    showElsewhere();
  }
  follow();
});

// Says who drives the control instead of this page, and offers to take it over.
function showElsewhere() {
  const site = page.driverOrigin ? new URL(page.driverOrigin).host : "";
  $("revoke-driver").hidden = !site;
  $("elsewhere-text").textContent = site
      ? site + " is using the studio" + (page.takenOver ? " now. This page is paused." : ".")
      : page.takenOver ? "Another tab or window took the studio over. This one is paused."
                       : "The studio is open in another tab or window.";
  if (!$("elsewhere").open) $("elsewhere").showModal();
}

// Back after the studio program was away (restarted, or the connection dropped): the page
// takes the control again and reads what it shows afresh.
ctl.addEventListener("connected", async () => {
  page.away = false;
  await claim();
  page.sending = false;
  await readStatus();
  loadSkins();
});
addEventListener("pagehide", () => ctl.release());
ctl.addEventListener("disconnected", () => {
  if (ctl.events.readyState !== EventSource.CLOSED && ctl.events.readyState !== EventSource.CONNECTING) return;
  page.away = true;
  showNotice(plainError({ number: 0 }));
  follow();
});

async function claim() {
  clearNotice();
  try {
    page.drives = await ctl.claim(false);
  } catch (e) {
    page.drives = false;
  }
  if (page.drives) {
    page.drivenBefore = true;
    page.takenOver = false;
    if ($("elsewhere").open) $("elsewhere").close();
    showNextBox();
  } else {
    showElsewhere();
  }
  follow();
}

$("take-over").addEventListener("click", async () => {
  page.drives = await ctl.claim(true).catch(() => false);
  if (page.drives) {
    page.drivenBefore = true;
    page.takenOver = false;
    $("elsewhere").close();
    showNextBox();
  }
  follow();
});
$("elsewhere").addEventListener("cancel", (e) => e.preventDefault());
$("revoke-driver").addEventListener("click", () => revokeSite(page.driverOrigin));

// ---- Wiring ----

function showWindow(name) {
  $("window").src = ctl.address("/video/" + name);
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
$("play").addEventListener("click", play);
$("mirror").addEventListener("change", () => { clearNotice(); run(ctl.setMiror($("mirror").checked)); });
$("add-recipient").addEventListener("click", () => addRecipient().querySelector("input").focus());
$("send-kept").addEventListener("click", () => sendFromOutbox(page.keptId));
$("try-again").addEventListener("click", () => send(page.lastSend.kind));
for (const [form, kind] of [["greeting", "greeting"], ["mobile", "mobile"]]) {
  $(form).addEventListener("submit", (e) => { e.preventDefault(); send(kind); });
}
// Enter in a field does not send: only the send buttons do.
document.addEventListener("keydown", (e) => {
  if (e.key === "Enter" && e.target.matches(".send input")) e.preventDefault();
});
$("panel").tabIndex = -1;

addRecipient();
showWindow("capture");
loadSkins();
refreshSites();
readStatus();
