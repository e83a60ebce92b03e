// SPDX-License-Identifier: GPL-3.0-or-later
// The sites the visitor allowed to use the studio, listed on its page with a way to revoke each.
"use strict";

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
  const revoked = fetch("/sites/revoke?origin=" + encodeURIComponent(origin) + (forget ? "&forget=1" : ""),
                        { method: "POST", headers: ctl.headers() });
  return sayIfSlow(revoked, "the revoke of " + new URL(origin).host)
      .then(refreshSites, () => showNotice(plainError({ number: 0 })));
};

refreshSites();
