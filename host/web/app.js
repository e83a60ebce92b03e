// The studio page: one stage at a time (starting, ready, countdown, recording, review, playing,
// sending, outcome), buttons that follow it, errors in plain words with the technical text under
// "Details", and one tab driving the control at a time.
"use strict";

const token = new URLSearchParams(location.search).get("token");
// The question a site's page opens (consent.html) answers with this studio's token.
localStorage.setItem("moviletta.token", token);
const ctl = new Movilettas(token);
const $ = (id) => document.getElementById(id);

const STATUS = { starting: 0, ready: 1, loadingSkin: 2, recording: 3, playing: 4, sending: 5 };
const SKIN_LOAD_LIMIT_MS = 10000;

const page = {
  stage: "starting",
  hasRecording: sessionStorage.getItem("moviletta.recorded") === "1",  // kept over a reload
  sending: false,
  lastSend: null,       // the arguments of the last send, for Try again
  outbox: [],           // the greetings not sent yet, as the control lists them
  outboxTimer: 0,
  retryFromOutbox: false,  // the last send failed after its mail went: it waits in the outbox
  sendsStarted: 0,
  sendMark: 0,          // sendsStarted when the latest send was asked for
  startedAt: 0,
  timer: 0,
  skinTimer: 0,
  drives: false,
  drivenBefore: false,  // this page has driven the control
  takenOver: false,     // another page took the control from this one
  driverOrigin: "",     // the site whose page drives the control, if one does
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
  if (number === 0) return "The studio program is not running. Start it again, then reload this page.";
  if (number === 409) return "Another tab is using the studio.";
  if (number === 503) return "The studio program is closing.";
  if (/^Can't Record/.test(text)) return "Recording can start once the current step has finished.";
  if (/^Can't Play/.test(text)) return "Playback can start once the current step has finished.";
  if (/^Can't Load skin/.test(text)) return "A skin can be chosen once the current step has finished.";
  if (/^Can't Send/.test(text)) return "Sending can start once the current step has finished.";
  if (number === 53 || number === 76) return "There is no recording to use yet. Record a greeting first.";
  return "Something went wrong: " + text;
}

// The mail library's explanations are technical; the control's own sentences are not.
const isTechnical = (text) => /smtp|curl|connect|port \d|^\d{3}[ -]/i.test(text);
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
  page.stage = stage;
  $("stage").dataset.stage = stage;
  $("stage-name").textContent = STAGE_TEXT[stage];
  announce(STAGE_TEXT[stage]);
  $("rec").hidden = stage !== "recording";
  $("review-mark").hidden = !(stage === "review" || stage === "playing");
  $("count").hidden = stage !== "countdown";
  clearInterval(page.timer);
  if (stage === "recording") {
    page.startedAt = performance.now();
    tick();
    page.timer = setInterval(tick, 250);
    $("stop").disabled = false;
    $("stop").focus();
  }
  clearTimeout(page.skinTimer);
  if (stage === "loadingSkin") page.skinTimer = setTimeout(skinTooSlow, SKIN_LOAD_LIMIT_MS);
  follow();
}

function tick() {
  const elapsed = (performance.now() - page.startedAt) / 1000;
  const limit = ctl.SecondsLimit || 0;
  $("elapsed").textContent = fmt(elapsed);
  $("limit").textContent = fmt(limit);
  $("remaining").textContent = fmt(limit - elapsed);
}

function skinTooSlow() {
  if (ctl.ClientStatus !== STATUS.loadingSkin) return;
  run(ctl.StopVideo());
  showNotice("The skin could not be put on: the greeting server did not deliver it in time.",
             ctl.ErrMsg);
}

// Buttons and fields follow the stage: nothing that the control would refuse is offered.
function follow() {
  const status = ctl.ClientStatus, idle = status === STATUS.ready && page.stage !== "countdown";
  const usable = page.drives;
  $("record").disabled = !usable || !idle || page.sending;
  $("record").textContent = page.hasRecording ? "Record again" : "Record";
  $("stop").disabled = !usable || !(status === STATUS.recording || status === STATUS.playing ||
                                    status === STATUS.loadingSkin || page.stage === "countdown");
  $("play").disabled = !usable || !idle || !page.hasRecording || page.sending;
  $("play").textContent = page.stage === "review" && statusHistory.includes(STATUS.playing)
                              ? "Play again" : "Play";
  for (const id of ["send", "send-mobile"])
    $(id).disabled = !usable || !idle || !page.hasRecording || page.sending;
  for (const button of document.querySelectorAll("#outbox-list .again"))
    button.disabled = !usable || !idle || page.sending || button.closest("li").dataset.sending === "true";
  for (const radio of document.querySelectorAll("#skin-list input")) radio.disabled = !usable || !idle;
  $("mirror").disabled = !usable || status === STATUS.starting;
}

function onStatus() {
  const status = ctl.ClientStatus;
  if (statusHistory[statusHistory.length - 1] !== status) statusHistory.push(status);
  if (status === STATUS.recording) {
    page.hasRecording = true;
    sessionStorage.setItem("moviletta.recorded", "1");
  }
  if (status !== STATUS.loadingSkin) clearTimeout(page.skinTimer);
  resizeStage();
  if (page.stage === "failed") return follow();
  if (status === STATUS.starting) setStage("starting");
  else if (status === STATUS.recording) setStage("recording");
  else if (status === STATUS.playing) setStage("playing");
  else if (status === STATUS.loadingSkin) setStage("loadingSkin");
  else if (status === STATUS.sending) setStage("sending");
  else if (page.stage !== "countdown") setStage(page.hasRecording ? "review" : "ready");
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
  if ($("countdown").checked) {
    setStage("countdown");
    for (const n of [3, 2, 1]) {
      $("count").textContent = n;
      announce(String(n));
      await new Promise((r) => setTimeout(r, 1000));
      if (page.stage !== "countdown") return;  // Stop during the countdown
    }
  }
  page.stage = "";  // the control's status events take over from here
  run(ctl.RecordVideo()).finally(() => {
    if (ctl.ClientStatus === STATUS.ready) onStatus();
    $("play").focus();
  });
}

function stop() {
  clearNotice();
  if (page.stage === "countdown") {
    setStage(page.hasRecording ? "review" : "ready");
    return;
  }
  run(ctl.StopVideo());
}

// ---- Skins ----

async function loadSkins() {
  let skins = [];
  try {
    skins = await ctl.skins();
  } catch (e) { /* the list stays short */ }
  const list = $("skin-list");
  const choices = [{ id: -1, name: "No skin" }, ...skins];
  list.replaceChildren(...choices.map((skin, i) => {
    const label = document.createElement("label");
    label.className = "skin";
    const input = document.createElement("input");
    input.type = "radio";
    input.name = "skin";
    input.value = skin.id;
    input.checked = i === 0;
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
  follow();
}

function chooseSkin(input) {
  clearNotice();
  run(ctl.LoadSkin(Number(input.value)));
}

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

// The fields' own checks, and no field may hold the list's separators.
function checked(inputs) {
  for (const input of inputs) {
    input.setCustomValidity(/[,;]/.test(input.value) ? "Commas and semicolons cannot be used here." : "");
    if (!input.checkValidity()) {
      input.reportValidity();
      input.focus();
      return false;
    }
  }
  return true;
}

function senderFields() {
  const f = $("greeting").elements;
  return [f.name, f.email];
}

function recipientList() {
  return [...$("recipients").children].map((row) =>
    ["r-name", "r-mobile", "r-email"].map((n) => row.querySelector(`[name=${n}]`).value.trim()).join(","))
    .join(";");
}

function send(kind) {
  const g = $("greeting").elements, m = $("mobile").elements;
  const fields = kind === "greeting"
      ? [...senderFields(), ...$("recipients").querySelectorAll("input")]
      : [...senderFields(), m.recipient, m.mobile, m.emails];
  if (!checked(fields)) return;
  page.lastSend = kind === "greeting"
      ? { kind, args: [0, g.name.value.trim(), g.email.value.trim(), recipientList(), g.message.value, "1", 0],
          to: [...$("recipients").querySelectorAll("[name=r-name]")].map((i) => i.value.trim()).join(", ") }
      : { kind, args: [g.name.value.trim(), g.email.value.trim(), m.recipient.value.trim(), m.mobile.value.trim(),
                       m.emails.value.trim(), g.message.value],
          to: m.recipient.value.trim() + " (" + m.mobile.value.trim() + ")" };
  sendAgain();
}

async function sendAgain() {
  if (page.retryFromOutbox) {
    // That very greeting, as it was recorded, rather than the recording of now.
    await refreshOutbox();
    const kept = page.outbox.filter((e) => !e.sending);
    if (kept.length) return sendFromOutbox(kept[kept.length - 1].id);
  }
  const { kind, args } = page.lastSend;
  startSend(kind === "greeting" ? () => ctl.SendGreeting(...args) : () => ctl.SendByEmail(...args));
}

function sendFromOutbox(id) {
  const entry = page.outbox.find((e) => e.id === id);
  page.lastSend = { ...page.lastSend, to: entry ? entry.recipients : "" };
  startSend(() => ctl.OutboxSend(id));
}

function startSend(makeCall) {
  clearNotice();
  $("outcome").hidden = true;
  page.sending = true;
  follow();
  const call = makeCall();
  const started = page.sendMark = page.sendsStarted;
  run(call).finally(() => {
    // A send refused before its mail went has no result event to end it.
    if (page.sendsStarted === started && ctl.ClientStatus !== STATUS.sending) page.sending = false;
    follow();
  });
}

function showOutcome(result, mailWent = true) {
  page.sending = false;
  page.retryFromOutbox = !result.sent && mailWent;
  refreshOutbox();
  const to = page.lastSend ? page.lastSend.to : "";
  $("outcome").hidden = false;
  $("outcome").dataset.sent = result.sent;
  $("outcome-title").textContent = result.sent ? "Sent" : "Not sent";
  $("outcome-text").textContent = result.sent
      ? "Your greeting is on its way" + (to ? " to " + to : "") + "."
      : plainMailFailure(result.explanation) + " Your recording is kept; you can try again.";
  $("try-again").hidden = result.sent || !(page.lastSend || page.retryFromOutbox);
  announce(result.sent ? "Sent" : "Not sent");
  if (!$("box").open) $("outcome-title").focus();
  follow();
}

// ---- The outbox ----

const sizeText = (bytes) => bytes >= 1e6 ? (bytes / 1e6).toFixed(1) + " MB" : Math.ceil(bytes / 1e3) + " kB";

async function refreshOutbox() {
  try {
    page.outbox = await ctl.OutboxList();
  } catch (e) {
    return;  // a control that is not running has nothing to show
  }
  $("outbox").hidden = !page.outbox.length;
  $("outbox-count").textContent = "(" + page.outbox.length + ")";
  $("outbox-list").replaceChildren(...page.outbox.map((entry) => {
    const row = $("outbox-row").content.firstElementChild.cloneNode(true);
    row.dataset.id = entry.id;
    row.dataset.sending = entry.sending;
    row.querySelector(".label").textContent =
        entry.label === "MovilettaStudio" ? "Greeting" : "Mobile e-mail";
    row.querySelector(".to").textContent = entry.recipients.split(";")
        .map((r) => r.split(",")[0]).join(", ");
    row.querySelector(".when").textContent = new Date(entry.when * 1000).toLocaleString();
    row.querySelector(".size").textContent = sizeText(entry.bytes);
    row.querySelector(".why").textContent = entry.sending ? "Sending…" : plainMailFailure(entry.explanation);
    row.querySelector(".why").title = entry.explanation;
    const what = row.querySelector(".label").textContent + " to " + row.querySelector(".to").textContent;
    row.querySelector(".again").setAttribute("aria-label", "Try again: " + what);
    row.querySelector(".discard").setAttribute("aria-label", "Discard: " + what);
    row.querySelector(".discard").disabled = entry.sending;
    row.querySelector(".again").addEventListener("click", () => sendFromOutbox(entry.id));
    row.querySelector(".discard").addEventListener("click", () =>
        run(ctl.OutboxDiscard(entry.id)).finally(refreshOutbox));
    return row;
  }));
  // A send's result is told before the control has settled its entry: look again until it has.
  clearTimeout(page.outboxTimer);
  if (!page.sending && page.outbox.some((e) => e.sending)) page.outboxTimer = setTimeout(refreshOutbox, 300);
  follow();
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
  $("site-list").replaceChildren(...sites.map((origin) => {
    const row = document.createElement("li");
    const name = document.createElement("span");
    name.textContent = origin;
    const revoke = document.createElement("button");
    revoke.type = "button";
    revoke.className = "secondary";
    revoke.textContent = "Revoke";
    revoke.setAttribute("aria-label", "Revoke " + origin);
    revoke.addEventListener("click", () => revokeSite(origin));
    row.append(name, revoke);
    return row;
  }));
}
ctl.addEventListener("sites", refreshSites);

// The site's open pages lose the studio at once; when one drove it, this page takes it back.
const revokeSite = (origin) => {
  if (origin === page.driverOrigin) page.takenOver = false;
  return fetch("/sites/revoke?origin=" + encodeURIComponent(origin), { method: "POST", headers: ctl.headers() })
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
               detail, [["Retry", () => { clearNotice(); ctl.restart(); }]]);
  } else {
    onStatus();
    refreshOutbox();
  }
});
ctl.addEventListener("progress", (e) => {
  const text = e.detail.text || "";
  const phase = /^Proccesing/.test(text) ? "Compressing" : /^Sending/.test(text) ? "Sending" : "Preparing";
  $("bar").value = e.detail.value;
  $("bar-label").textContent = phase + " " + e.detail.value + " %";
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
  follow();
});
const loadedAt = Date.now();
// A result from before this page was loaded is history, not news.
ctl.addEventListener("sendresult", (e) => { if (e.detail.at >= loadedAt - 2000) showOutcome(e.detail); });
// The control's message boxes, one at a time, shown only by the page that drives it.
const boxes = [];
ctl.addEventListener("messagebox", (e) => {
  refreshOutbox();  // a failed mail is in the outbox before its box opens
  boxes.push({ ...e.detail, duringSend: page.sending, mailWent: page.sendsStarted !== page.sendMark });
  showNextBox();
});

function showNextBox() {
  if (!page.drives || $("box").open || !boxes.length) return;
  const { id, text, duringSend, mailWent } = boxes.shift();
  const returnTo = document.activeElement;
  $("box-title").textContent = duringSend ? "Not sent" : "Message";
  $("box-text").textContent = plainMailFailure(text);
  $("box-tech").textContent = text;
  $("box-details").hidden = !isTechnical(text);
  $("box").showModal();
  $("box-ok").focus();
  $("box").addEventListener("close", () => {
    ctl.acknowledge(id);
    // A send that ends before its mail went (the compression failed) has no result event.
    if (duringSend && !mailWent) showOutcome({ sent: false, explanation: text }, false);
    if (returnTo && returnTo.focus) returnTo.focus();
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
ctl.addEventListener("connected", claim);
addEventListener("pagehide", () => ctl.release());
ctl.addEventListener("disconnected", () => {
  if (ctl.events.readyState === EventSource.CLOSED || ctl.events.readyState === EventSource.CONNECTING)
    showNotice("The studio program is not running. Start it again; this page reconnects by itself.");
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

$("record").addEventListener("click", record);
$("stop").addEventListener("click", stop);
$("play").addEventListener("click", () => { clearNotice(); run(ctl.PlayVideo()).finally(() => $("play").focus()); });
$("mirror").addEventListener("change", () => { clearNotice(); run(ctl.setMiror($("mirror").checked)); });
$("add-recipient").addEventListener("click", () => addRecipient().querySelector("input").focus());
$("try-again").addEventListener("click", sendAgain);
for (const [form, kind] of [["greeting", "greeting"], ["mobile", "mobile"]]) {
  $(form).addEventListener("submit", (e) => { e.preventDefault(); send(kind); });
  // Enter in a field does not send: only the send buttons do.
  $(form).addEventListener("keydown", (e) => {
    if (e.key === "Enter" && e.target.matches("input")) e.preventDefault();
  });
}

addRecipient();
showWindow("capture");
loadSkins();
refreshSites();
// The events tell the status too; a control that did not start refuses this read, and the
// "startup" event says why.
ctl.call("ClientStatus", [], "get").then((status) => { ctl.ClientStatus = status; onStatus(); refreshOutbox(); })
    .catch((e) => { if (e.number === 0) showNotice(plainError(e), e.description); });
