// SPDX-License-Identifier: GPL-3.0-or-later
// Which page drives the control: the studio's page says who does instead of it and offers to
// take over, gives way when told, and takes the control again after the studio was away.
"use strict";

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
  // Not modal: the page's other parts (the allowed sites, a revoke) stay usable; its controls
  // are off while another page drives.
  if (!$("elsewhere").open) {
    $("elsewhere").show();
    $("take-over").focus();
  }
}

// Back after the studio program was away (restarted, or the connection dropped): the page
// takes the control again and reads what it shows afresh.
ctl.addEventListener("connected", async () => {
  page.away = false;
  await claim();
  page.sending = false;
  await readStatus();
  checkTake();
  loadSkins();
});
addEventListener("pagehide", () => ctl.release());
ctl.addEventListener("disconnected", () => {
  if (ctl.connection === EventSource.OPEN) return;
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
  page.drives = await sayIfSlow(ctl.claim(true), "“Use it here”").catch(() => false);
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
