// SPDX-License-Identifier: GPL-3.0-or-later
// The outbox on the studio's page: the greetings not sent yet, each told in its own words, sent
// again from a button that says so, or discarded after asking.
"use strict";

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
  // The greeting a failed send kept is the newest entry once none is under way any more.
  if (page.findKept && !page.outbox.some((e) => e.sending)) {
    const waiting = page.outbox.filter((e) => !e.sending);
    page.keptId = waiting.length ? waiting[waiting.length - 1].id : "";
    $("send-kept").hidden = !page.keptId;
    page.findKept = false;
  }
  if (!page.outbox.some((e) => e.id === page.keptId)) {
    $("send-kept").hidden = true;
    if (page.keptId) $("outcome-kept").hidden = true;  // sent or discarded since
  }
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
    (next && !next.disabled ? next : $(left.length ? "outbox-title" : "send-summary")).focus();
  });
}
