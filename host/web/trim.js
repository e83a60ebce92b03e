// Trimming the take in review: two handles over the take (arrow keys move the focused one by a
// tenth of a second, its time read out), the studio told at once, the length shown the trimmed
// one. The studio compresses and sends only that part.
"use strict";

const SHORTEST_TAKE = 0.5;

// The take's length and the part that is sent, in seconds; null without a take.
function trimmed() {
  const take = page.take;
  if (!take) return null;
  return { length: take.seconds, start: take.trim ? take.trim.start : 0,
           end: take.trim ? take.trim.end : take.seconds };
}

function describeTrim() {
  const start = Number($("trim-start").value), end = Number($("trim-end").value);
  $("trim-start").setAttribute("aria-valuetext", start.toFixed(1) + " s");
  $("trim-end").setAttribute("aria-valuetext", end.toFixed(1) + " s");
  $("trim-text").textContent = "Sends " + start.toFixed(1) + " s to " + end.toFixed(1) + " s";
}

// Shows the handles in review; they are set from the take only when another take comes, or
// `reset` asks, never under the hands of a person moving them.
let trimmedTake = null;
function showTrim(reset = false) {
  const part = trimmed();
  const shown = page.stage === "review" && !!part && part.length > SHORTEST_TAKE;
  $("trim").hidden = !shown;
  if (!shown || (!reset && trimmedTake === page.take.at)) return;
  trimmedTake = page.take.at;
  for (const id of ["trim-start", "trim-end"]) $(id).max = String(part.length);
  $("trim-start").value = String(part.start);
  $("trim-end").value = String(part.end);
  describeTrim();
}

// The studio is told one trim after another, in the order the handles moved.
let telling = Promise.resolve();

function trim(moved) {
  const part = trimmed();
  if (!part) return;
  let start = Number($("trim-start").value), end = Number($("trim-end").value);
  // A handle never passes the other: the part stays at least half a second long.
  if (end - start < SHORTEST_TAKE) {
    if (moved === "trim-start") start = Math.max(0, end - SHORTEST_TAKE);
    else end = Math.min(part.length, start + SHORTEST_TAKE);
    $("trim-start").value = String(start);
    $("trim-end").value = String(end);
  }
  describeTrim();
  telling = telling.then(async () => {
    try {
      await ctl.TrimTake(start, end >= part.length ? 0 : end);
      page.take.trim = { start, end };
      keep("take", page.take);
      showTake();
    } catch (e) {
      showNotice(plainError(e), e.description);
      showTrim(true);
    }
  });
}

for (const id of ["trim-start", "trim-end"]) {
  $(id).addEventListener("change", () => trim(id));
  $(id).addEventListener("input", describeTrim);
}
document.addEventListener("takechanged", () => showTrim());
showTrim();
