// SPDX-License-Identifier: GPL-3.0-or-later
// Trimming the take in review with the client script's handles; the length shown and kept with
// the take is the trimmed one. The studio compresses and sends only that part.
"use strict";

const trimmer = new MovilettaTrimmer(ctl, $("trim"));
trimmer.addEventListener("trimmed", (e) => {
  page.take.trim = { start: e.detail.start, end: e.detail.end };
  keep("take", page.take);
  showTake();
});
// The still follows the start handle once it rests.
let stillTimer = 0;
trimmer.addEventListener("moved", (e) => {
  clearTimeout(stillTimer);
  stillTimer = setTimeout(() => { if (page.stage === "review" && page.take) showStill(e.detail.start); }, 150);
});
trimmer.addEventListener("refused", (e) => showNotice(plainError(e.detail.error), e.detail.error.description));

// The handles are set from the take only when another take (or its measured length) comes,
// never under the hands of a person moving them.
let trimmedTake = "";
function showTrim() {
  const take = page.take;
  const shown = page.stage === "review" && !!take && take.seconds > MovilettaTrimmer.SHORTEST;
  $("trim").hidden = !shown;
  if (!shown || trimmedTake === take.at + "/" + take.seconds) return;
  trimmedTake = take.at + "/" + take.seconds;
  trimmer.show(take.seconds, take.trim);
}
document.addEventListener("takechanged", showTrim);

