// SPDX-License-Identifier: GPL-3.0-or-later
// The question whether a site's page may use the studio, in a window the site opened. The
// answer goes to that window only when it is at the site's exact origin: the site's token with
// an Allow, a no with a Deny. The studio's own pages open in this browser tell it the studio's
// token (a BroadcastChannel of this origin).
"use strict";

const $ = (id) => document.getElementById(id);
const asked = new URLSearchParams(location.search).get("origin") || "";
const server = new URLSearchParams(location.search).get("server") || "";
let launch = "";  // the studio's token, once one of its pages told it
const channel = "BroadcastChannel" in window ? new BroadcastChannel("moviletta-launch") : null;
const studio = () => ({ "X-Moviletta-Token": launch });

// Asks the studio's open pages for its token, waiting a second for an answer.
async function launchToken() {
  if (launch || !channel) return launch;
  channel.postMessage({ ask: true });
  for (let waited = 0; !launch && waited < 1000; waited += 50) await new Promise((done) => setTimeout(done, 50));
  return launch;
}

// Only an origin as the browser writes it can receive the answer.
function siteOrigin(text) {
  try {
    const url = new URL(text);
    return url.origin === text ? url : null;
  } catch (e) {
    return null;
  }
}

function answer(reply, said) {
  $("question").hidden = true;
  $("said").textContent = said;
  if (window.opener) window.opener.postMessage({ moviletta: "consent", ...reply }, asked);
  setTimeout(() => window.close(), 800);
}

async function allow() {
  $("allow").disabled = true;
  const response = await fetch("/sites/allow?origin=" + encodeURIComponent(asked) +
                               (server ? "&server=" + encodeURIComponent(server) : ""),
                               { method: "POST", headers: studio() }).catch(() => null);
  if (!response || response.status === 403) return show("closed");
  if (response.status === 400) {
    $("said").textContent = "The site cannot send greetings through " + server + ": a greeting server must use a secure (https) address.";
    return;
  }
  if (!response.ok) {
    $("said").textContent = "The studio could not keep your answer. Try again later.";
    return;
  }
  const { token } = await response.json();
  answer({ allowed: true, token }, "Allowed. The site can use the studio now.");
}

function show(id) {
  $("question").hidden = id !== "question";
  $("closed").hidden = id !== "closed";
}

// Allow answers only once this window has been in front for a moment: a click meant for the
// site's page cannot land on it.
let arming = 0;
function arm() {
  clearTimeout(arming);
  $("allow").disabled = true;
  if (document.visibilityState === "visible") arming = setTimeout(() => { $("allow").disabled = false; }, 1000);
}

async function ask() {
  const site = siteOrigin(asked);
  if (!site) {
    $("said").textContent = "This address cannot be allowed to use the studio.";
    return;
  }
  if (!(await launchToken())) return show("closed");
  const response = await fetch("/sites", { headers: studio() }).catch(() => null);
  if (!response || !response.ok) return show("closed");
  const { sites } = await response.json();
  const before = sites.find((s) => s.origin === asked);
  if (before && before.server === (server ? server.replace(/\/+$/, "") : asked)) return allow();  // asked and answered before
  if (site.protocol !== "https:" && !["localhost", "127.0.0.1", "[::1]"].includes(site.hostname)) {
    $("said").textContent = site.host + " cannot use the studio: a site must use a secure (https) address.";
    return;
  }
  $("site").textContent = site.host;
  $("origin").textContent = asked;
  $("through").hidden = !server;
  $("server").textContent = server;
  show("question");
  arm();
}

$("allow").addEventListener("click", allow);
$("deny").addEventListener("click", () => answer({ allowed: false }, "Denied. The site cannot use the studio."));
$("retry").addEventListener("click", ask);
addEventListener("focus", arm);
addEventListener("blur", () => { clearTimeout(arming); $("allow").disabled = true; });
document.addEventListener("visibilitychange", arm);
if (channel) channel.onmessage = (e) => {
  if (!e.data || typeof e.data.token !== "string" || !e.data.token) return;
  const changed = launch !== e.data.token;
  launch = e.data.token;
  if (changed && !$("closed").hidden) ask();  // the studio's page was opened meanwhile
};
ask();
