// SPDX-License-Identifier: GPL-3.0-or-later
// The send forms of the studio's page: recipients and their checks, sending the form and the
// recording as they are, and the one outcome of a send with its next step.
"use strict";

// Remove is offered where there is more than one recipient.
function offerRemove() {
  const rows = $("recipients");
  for (const button of rows.querySelectorAll(".remove")) button.hidden = rows.children.length < 2;
}

function addRecipient() {
  const row = $("recipient-row").content.firstElementChild.cloneNode(true);
  const rows = $("recipients");
  row.querySelector(".remove").addEventListener("click", () => {
    if (rows.children.length > 1) row.remove();
    offerRemove();
    rows.querySelector("input").focus();
  });
  rows.append(row);
  offerRemove();
  return row;
}

// The HTML standard's rule for one e-mail address, with a domain that has a dot: mail to
// "bob@example" would never arrive.
const EMAIL = /^[a-zA-Z0-9.!#$%&'*+/=?^_`{|}~-]+@[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?(?:\.[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)+$/;
const addressList = (text) => text.split(/[,;]/).map((a) => a.trim()).filter(Boolean);
const notAddresses = (wrong) => wrong.map((a) => "“" + a + "”").join(", ") +
    (wrong.length > 1 ? " are not e-mail addresses." : " is not a full e-mail address, such as ann@example.com.");

// What is wrong with `input` beyond the browser's own checks, "" when nothing is.
function problemOf(input) {
  if (input.name === "emails") {
    const wrong = addressList(input.value).filter((a) => !EMAIL.test(a));
    return wrong.length ? notAddresses(wrong) : "";
  }
  if (/[,;]/.test(input.value)) return "Commas and semicolons cannot be used here.";
  if (input.type === "email" && input.value.trim() && !EMAIL.test(input.value.trim()))
    return notAddresses([input.value.trim()]);
  return "";
}

// Marks `input` as wrong with `problem` (aria-invalid and a line of text under it, which the
// field's description names), or takes the mark away when `problem` is "".
function markField(input, problem) {
  input.id ||= "field-" + Math.random().toString(36).slice(2);
  const noteId = input.id + "-error";
  let note = document.getElementById(noteId);
  const described = (input.getAttribute("aria-describedby") || "").split(" ").filter((id) => id && id !== noteId);
  if (problem) {
    if (!note) {
      note = document.createElement("span");
      note.id = noteId;
      note.className = "field-error";
      input.after(note);
    }
    note.textContent = problem;
    described.push(noteId);
    input.setAttribute("aria-invalid", "true");
  } else {
    note?.remove();
    input.removeAttribute("aria-invalid");
  }
  if (described.length) input.setAttribute("aria-describedby", described.join(" "));
  else input.removeAttribute("aria-describedby");
}

// Checks `input` and marks it as it is; true when it holds nothing wrong.
function checkField(input) {
  input.setCustomValidity(problemOf(input));
  const valid = input.checkValidity();
  markField(input, valid ? "" : input.validationMessage);
  return valid;
}

// Checks every field, marks each wrong one, and tells the first (focused); true when none is.
function checked(inputs) {
  let first = null;
  for (const input of inputs) {
    const valid = checkField(input);
    first ||= valid ? null : input;
  }
  if (first) {
    // The field with its label in the middle of the window, not cut at its edge.
    (first.closest("label") || first).scrollIntoView({ block: "center" });
    first.focus({ preventScroll: true });
    first.reportValidity();
  }
  return !first;
}

// A field marked wrong is checked again as it is corrected.
document.addEventListener("input", (e) => {
  const input = e.target;
  if (input.getAttribute && input.getAttribute("aria-invalid") === "true") checkField(input);
});

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
  const call = trimmer.settled().then(makeCall);  // the part the handles show
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
  page.progress = null;
  page.lastFailure = result.sent ? "" : result.explanation;
  const to = page.lastSend ? page.lastSend.to : "";
  $("outcome").hidden = false;
  $("outcome").dataset.sent = result.sent;
  $("outcome-title").textContent = result.sent ? "Sent" : "Not sent";
  $("outcome-text").textContent = result.sent
      ? "Your greeting is on its way" + (to ? " to " + to : "") + "."
      : plainMailFailure(result.explanation) + (to ? " It was for " + to + "." : "") +
        (mailWent ? "" : " Your recording is kept.");
  $("outcome-kept").hidden = result.sent || !mailWent;
  $("outcome-tech").textContent = result.sent ? "" : result.explanation;
  $("outcome-details").hidden = result.sent || !isTechnical(result.explanation);
  $("send-kept").hidden = true;
  $("try-again").hidden = result.sent || mailWent || !page.lastSend || page.lastSend.kind === "outbox";
  announce(result.sent ? "Sent" : "Not sent");
  if (!$("box").open) $("outcome-title").focus();
  follow();
  // The kept greeting is named once the control has settled its entry (refreshOutbox).
  page.findKept = !result.sent && mailWent;
  await refreshOutbox();
}

// Cancel ends the send under way: nothing goes, and the take stays to be sent again.
async function cancelSend() {
  $("cancel-send").disabled = true;
  const cancelled = await run(ctl.CancelSend());
  $("cancel-send").disabled = false;
  if (cancelled === true) showOutcome({ sent: false, explanation: "You cancelled sending." }, false);
}

$("cancel-send").addEventListener("click", cancelSend);
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

addRecipient();
