// SPDX-License-Identifier: GPL-3.0-or-later
// A greeting site's page drives the studio with the visitor's consent, in Debian's Chromium: the
// site asks, the visitor allows it in the studio's window, the site records and sends (the mail
// arrives); the studio's page and the site's page always know which of them drives; a page of an
// origin never allowed reads nothing and changes nothing; a forged Origin without the site's
// token is refused; revoking the site ends its event stream and refuses its next call.
// Usage: node site.mjs STUDIO_PAGE_URL SITE_PAGE_URL MAIL_FOLDER OUTPUT_FOLDER
import { launchBrowser } from "./launch.mjs";
import fs from "node:fs";
import path from "node:path";
import http from "node:http";
import { createRequire } from "node:module";
import { execFileSync } from "node:child_process";

const [studioUrl, siteUrl, mailFolder, output] = process.argv.slice(2);
const axePath = createRequire(import.meta.url).resolve("axe-core/axe.min.js");
const fail = (why) => { throw new Error(why); };
fs.mkdirSync(output, { recursive: true });
const studioBase = new URL(studioUrl).origin;
const siteOrigin = new URL(siteUrl).origin;

const browser = await launchBrowser();
const shot = (page, name) => page.screenshot({ path: path.join(output, name + ".png"), fullPage: true });
async function axe(page, when) {
  await page.addScriptTag({ path: axePath });
  const result = await page.evaluate(() => axe.run(document, { resultTypes: ["violations"] }));
  const bad = result.violations.filter((v) => v.impact === "serious" || v.impact === "critical");
  if (bad.length) fail("axe " + when + ": " + bad.map((v) => v.id).join(", "));
}
async function open(context, url) {
  const page = await context.newPage();
  page.on("pageerror", (e) => console.error("page error: " + e.message));
  page.setDefaultTimeout(30000);
  await page.goto(url, { waitUntil: "domcontentloaded" });
  return page;
}
const text = (page, selector) => page.textContent(selector);
async function waitText(page, selector, pattern, what) {
  await page.waitForFunction(([s, p]) => new RegExp(p).test(document.querySelector(s).textContent),
                             [selector, pattern.source])
      .catch(async () => fail(what + ": " + selector + " says \"" + await text(page, selector) + "\""));
}
// The status of the control of the site's session, as the site's page reads it.
const sessionStatus = (site) => site.evaluate(() => ctl.call("ClientStatus", [], "get"));
// A request as curl sends it, with whatever Origin it likes.
function curl(pathAndQuery, headers) {
  const args = ["-s", "-o", "/dev/null", "-w", "%{http_code}", "-X", "POST", "--data", "[]"];
  for (const [name, value] of Object.entries(headers)) args.push("-H", name + ": " + value);
  return execFileSync("curl", [...args, studioBase + pathAndQuery]).toString();
}

const steps = [];
async function step(name, body) {
  const start = Date.now();
  await body();
  steps.push(name);
  console.log(`site test: ${name} (${((Date.now() - start) / 1000).toFixed(1)} s)`);
}

let exitCode = 0;
let site;
try {
  const context = await browser.newContext({ viewport: { width: 900, height: 900 } });
  const studio = await open(context, studioUrl);
  await studio.waitForSelector('#stage[data-stage="ready"]');
  site = await open(context, siteUrl);
  let siteToken = "";

  await step("the site asks, the visitor allows it in the studio's window", async () => {
    const [question] = await Promise.all([context.waitForEvent("page"), site.click("#connect")]);
    await question.waitForSelector("#question:not([hidden])");
    if ((await text(question, "#site")) !== new URL(siteOrigin).host)
      fail("the question names " + await text(question, "#site"));
    if (!(await question.isDisabled("#allow"))) fail("Allow answers before the window was in front a moment");
    await axe(question, "on the question");
    await shot(question, "site-question");
    await question.click("#allow");
    await question.waitForEvent("close");
    await site.waitForSelector("#studio:not([hidden])");
    siteToken = await site.evaluate(() => ctl.token);
    await studio.waitForSelector("#site-list li");
    if (!(await text(studio, "#site-list")).includes(siteOrigin)) fail("the studio does not list the site");
  });

  await step("a site that names another greeting server: the question names it too", async () => {
    const question = await open(context, studioBase + "/consent?origin=https://other.example.org" +
                                         "&server=" + encodeURIComponent("https://greetings.example.net/api"));
    await question.waitForSelector("#question:not([hidden])");
    if ((await text(question, "#server")) !== "https://greetings.example.net/api" || await question.isHidden("#through"))
      fail("the question does not name the greeting server");
    await question.close();
  });

  await step("the question needs the studio's page open, keeps nothing of its token, and goes on once it opens", async () => {
    const launchToken = new URL(studioUrl).searchParams.get("token");
    const stored = await studio.evaluate(() => [...Object.values(localStorage), ...Object.values(sessionStorage)]);
    if (stored.some((value) => value.includes(launchToken))) fail("the studio's token is kept in the browser's storage");
    const elsewhere = await browser.newContext();
    try {
      const question = await open(elsewhere, studioBase + "/consent?origin=https://third.example.org");
      await question.waitForSelector("#closed:not([hidden])");
      await open(elsewhere, studioUrl);
      await question.waitForSelector("#question:not([hidden])");
    } finally {
      await elsewhere.close();
    }
  });

  await step("the studio's page and the site's page each know which of them drives", async () => {
    await site.waitForSelector("#take-over:not([hidden])");
    await waitText(site, "#status", /elsewhere/, "the site while the studio's page drives");
    if (!(await site.isDisabled("#record"))) fail("the site offers Record while another page drives");
    const offer = await site.evaluate(() => {
      const r = document.getElementById("take-over").getBoundingClientRect();
      return { bottom: r.bottom, height: innerHeight };
    });
    if (offer.bottom > offer.height) fail(`the take-over is below the fold (${offer.bottom} of ${offer.height})`);
    await site.click("#take-over");
    await studio.waitForSelector("#elsewhere[open]");
    await waitText(studio, "#elsewhere-text", new RegExp(new URL(siteOrigin).host.replace(/\./g, "\\.") + " is using"),
                   "the studio's page");
    const refused = await studio.evaluate(() => ctl.RecordVideo().then(() => 0, (e) => e.number));
    if (refused !== 409) fail("the studio's page could record while the site drove: " + refused);
    await shot(studio, "site-drives");
  });

  await step("the site records, trims by keyboard and sends with its own form; the mail arrives", async () => {
    const before = new Set(fs.readdirSync(mailFolder));
    await waitText(site, "#status", /Ready to record/, "the site before recording");
    await site.click("#record");
    await waitText(site, "#status", /Get ready… 3/, "the site's countdown");
    await waitText(site, "#status", /^Recording$/, "the site after the countdown");
    await waitText(site, "#rec", /REC 0:01\.\d of 0:03\.0/, "the site's REC mark");
    await shot(site, "site-recording");
    await site.click("#stop");
    await waitText(site, "#status", /Recorded/, "the site after Stop");
    await site.waitForSelector("#trim:not([hidden])");
    const length = Number(await site.getAttribute("#trim-end", "max"));
    await site.focus("#trim-start");
    for (let i = 0; i < 5; i++) await site.keyboard.press("ArrowRight");
    await waitText(site, "#trim-text", "^Sends 0\\.5 s to " + length.toFixed(1).replace(".", "\\.") + " s$",
                   "the site's trim");
    if ((await site.getAttribute("#trim-start", "aria-valuetext")) !== "0.5 s") fail("the start's time is not read out");
    await axe(site, "with the trim shown");
    await site.waitForTimeout(300);  // the studio has the trim before the send is asked
    if (await site.textContent("#outcome")) fail("trimming said: " + await site.textContent("#outcome"));
    await site.fill("[name=name]", "Ann");
    await site.fill("[name=email]", "ann@example.com");
    await site.fill("[name=friend]", "Carla");
    await site.fill("[name=friendEmail]", "carla@example.com");
    await site.fill("[name=message]", "Hello from a greeting site");
    await site.click("#send-button");
    await waitText(site, "#progress", /^(Compressing|Sending) \d+ %$/, "the site's send progress");
    await waitText(site, "#outcome", /on its way/, "the site after Send");
    await shot(site, "site-sent");
    const deadline = Date.now() + 15000;
    let mail;
    while (!(mail = fs.readdirSync(mailFolder).find((f) => f.endsWith(".eml") && !before.has(f))) &&
           Date.now() < deadline)
      await new Promise((r) => setTimeout(r, 200));
    if (!mail) fail("no mail arrived for the site's greeting");
    const body = fs.readFileSync(path.join(mailFolder, mail), "utf8");
    if (!/carla@example\.com/.test(body)) fail("the mail does not name the site's recipient");
    const parts = path.join(mailFolder, mail.replace(/\.eml$/, ".parts"));
    const greeting = fs.readdirSync(parts).find((f) => /\.(mpg|wmv)$/.test(f));
    if (!greeting) fail("the mail carries no greeting: " + fs.readdirSync(parts));
    const seconds = Number(execFileSync("ffprobe", ["-v", "error", "-show_entries", "format=duration",
                                                    "-of", "csv=p=0", path.join(parts, greeting)]).toString());
    if (Math.abs(seconds - (length - 0.5)) > 0.15) fail(`the mailed greeting lasts ${seconds} s, not ${length - 0.5} s`);
    // The studio's own browser test counts the mails in this folder.
    fs.rmSync(path.join(output, "site-mail"), { recursive: true, force: true });
    fs.mkdirSync(path.join(output, "site-mail"));
    for (const f of fs.readdirSync(mailFolder).filter((f) => !before.has(f)))
      fs.renameSync(path.join(mailFolder, f), path.join(output, "site-mail", f));
  });

  await step("an origin never allowed reads nothing and changes nothing", async () => {
    const other = await open(context, siteUrl.replace("://127.0.0.1:", "://localhost:"));
    const tried = await other.evaluate(async ([base, token]) => {
      const attempt = (url, init) => fetch(url, init).then((r) => "answered " + r.status, () => "failed");
      return [
        await attempt(base + "/hello", { headers: { "X-Moviletta-Token": token } }),
        await attempt(base + "/call/RecordVideo", { method: "POST", headers: { "X-Moviletta-Token": token },
                                                    body: "[]" }),
        await attempt(base + "/claim?page=intruder&takeover=1", { method: "POST", body: "" }),
      ];
    }, [studioBase, siteToken]);
    if (tried.some((t) => t !== "failed")) fail("a page of another origin got " + tried.join(", "));
    if ((await sessionStatus(site)) !== 1) fail("the control is not idle after the other origin's calls");
    if (!(await site.isHidden("#take-over"))) fail("the other origin took the control from the site");
    await other.close();
  });

  await step("a forged Origin without the site's token is refused", async () => {
    const launchToken = new URL(studioUrl).searchParams.get("token");
    for (const [headers, what] of [
      [{ Origin: siteOrigin }, "no token"],
      [{ Origin: siteOrigin, "X-Moviletta-Token": launchToken }, "the studio's own token"],
      [{ Origin: siteOrigin, "X-Moviletta-Token": siteToken + "0" }, "a wrong token"],
    ]) {
      const status = curl("/call/RecordVideo", headers);
      if (status !== "403") fail("a forged call with " + what + " was answered " + status);
    }
    if ((await sessionStatus(site)) !== 1) fail("a forged call changed the control");
  });

  await step("a program on the port where the studio was gets no token; the page finds the studio", async () => {
    // Another account's program answers like the studio on the port the site's token was kept for.
    const heard = [];
    const squatter = http.createServer((req, res) => {
      heard.push(req.url + " " + JSON.stringify(req.headers));
      res.setHeader("Access-Control-Allow-Origin", req.headers.origin || "*");
      res.setHeader("Access-Control-Allow-Headers", "Content-Type, X-Moviletta-Token, X-Moviletta-Page");
      res.setHeader("Access-Control-Allow-Private-Network", "true");
      res.setHeader("Content-Type", "application/json");
      res.end(JSON.stringify({ studio: "moviletta", proof: "0".repeat(64) }));
    });
    await new Promise((resolve) => squatter.listen(0, "127.0.0.1", resolve));
    const squat = squatter.address().port, port = Number(new URL(studioBase).port);
    const probe = await open(context, siteUrl);
    try {
      const found = await probe.evaluate(async ([squat, port, token]) => {
        for (const name of Object.keys(localStorage))
          if (name.startsWith("moviletta.token@")) localStorage.removeItem(name);
        localStorage.setItem("moviletta.token@http://127.0.0.1:" + squat, token);
        const other = await Movilettas.connect({ ports: [squat, port] });
        return { base: other.base, same: other.token === token };
      }, [squat, port, siteToken]);
      if (found.base !== studioBase || !found.same) fail("the page found " + JSON.stringify(found));
      if (heard.some((request) => request.includes(siteToken))) fail("the squatter was told the token: " + heard.join("; "));
      if (!heard.some((request) => request.startsWith("/proof?nonce="))) fail("the squatter was not asked: " + heard.join("; "));
    } finally {
      await probe.close();
      squatter.close();
    }
  });

  await step("the studio's page takes the control back, then gives it to the site again", async () => {
    await studio.click("#take-over");
    await site.waitForSelector("#take-over:not([hidden])");
    await waitText(site, "#status", /elsewhere/, "the site after the studio's page took over");
    await axe(studio, "with an allowed site listed");
    await site.click("#take-over");
    await studio.waitForSelector("#elsewhere[open]");
  });

  await step("revoking the site ends its event stream and refuses its next call", async () => {
    // The list of sites stays usable while the site drives: the notice of it is no modal.
    const revoked = Date.now();
    await studio.click(`#sites button[aria-label="Revoke ${siteOrigin}"]`, { timeout: 3000 });
    await waitText(site, "#status", /This site is no longer allowed to use the studio/, "the site after the revoke");
    if (Date.now() - revoked > 2000) fail("the site learned of the revoke after " + (Date.now() - revoked) + " ms");
    const next = await site.evaluate(() => ctl.call("ClientStatus", [], "get").then(() => "answered", (e) => e.number));
    if (next !== 0) fail("the revoked site's next call got " + next);
    await site.waitForFunction(() => [...document.querySelectorAll("img")].every((img) => !img.src.startsWith("blob:")),
                               null, { timeout: 3000 }).catch(() => fail("the revoked site keeps the camera's last picture"));
    await studio.waitForSelector("#elsewhere", { state: "hidden" });  // the studio's page drives again
    await studio.waitForSelector("#sites", { state: "hidden", timeout: 5000 })
        .catch(() => fail("the revoked site is still listed"));
    await studio.waitForSelector("#record:not([disabled])");
    await shot(site, "site-revoked");
  });
  console.log("site test: " + steps.length + " scenarios passed");
} catch (e) {
  console.error("site test: " + e.message);
  if (site && !site.isClosed()) await shot(site, "site-failure").catch(() => {});
  exitCode = 1;
} finally {
  await browser.close();
}
process.exit(exitCode);
