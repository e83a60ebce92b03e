// SPDX-License-Identifier: GPL-3.0-or-later
// The guided flow: Record, then Review and trim, then Send. The list of steps marks the one the
// person is at, and the part of the page that belongs to it is open while the others fold (a
// click away). A part the person opens or closes stays so until the step changes. The send forms
// show one way of sending at a time, with the sender's fields just above its Send button.
"use strict";

let shownStep = "";

// The step the page is at; a skin being put on or the studio starting keep the step it was.
function currentStep() {
  if (page.sending || page.stage === "sending" || !$("outcome").hidden) return "send";
  if (page.stage === "review" || page.stage === "playing")
    return $("send-part").contains(document.activeElement) ? "send" : "review";
  if (["ready", "countdown", "recording", "failed"].includes(page.stage)) return "record";
  return shownStep || "record";
}

function showStep() {
  const step = currentStep();
  for (const item of document.querySelectorAll("#steps li")) {
    if (item.dataset.step === step) item.setAttribute("aria-current", "step");
    else item.removeAttribute("aria-current");
  }
  if (step === shownStep) return;
  const from = shownStep;
  shownStep = step;
  // Reviewing and sending share a view: the take and its trim stay above the send forms.
  if (from === "review" && step === "send") return;
  unfold($("setup"), step === "record");
  unfold($("send-part"), step !== "record");
}

// Opens or folds `part`; the focus inside a part that folds goes to its summary.
function unfold(part, open) {
  if (!open && part.contains(document.activeElement)) part.querySelector("summary").focus();
  part.open = open;
}

function showWay() {
  const mobile = $("way-mobile").checked;
  $("greeting").hidden = mobile;
  $("mobile").hidden = !mobile;
}

for (const radio of document.querySelectorAll("[name=way]")) radio.addEventListener("change", showWay);
document.addEventListener("takechanged", showStep);
document.addEventListener("focusin", showStep);
new MutationObserver(showStep).observe($("outcome"), { attributes: true, attributeFilter: ["hidden"] });
showWay();
showStep();
