// SPDX-License-Identifier: GPL-3.0-or-later
// A recipient's visit of a greeting's watch page in Debian's Chromium: the video plays (its time
// advances), the first view reaches the sender as a mail, a reply is sent and reaches the sender;
// axe-core on the page.
// Usage: node watch.mjs WATCH_URL MAIL_FOLDER OUTPUT_FOLDER
import { launchBrowser } from "./launch.mjs";
import fs from "node:fs";
import path from "node:path";
import { createRequire } from "node:module";

const [watch, mails, output] = process.argv.slice(2);
const axePath = createRequire(import.meta.url).resolve("axe-core/axe.min.js");
const fail = (why) => { throw new Error(why); };
fs.mkdirSync(output, { recursive: true });

// The subject of a mail to the sender that arrives within `seconds`, matching `pattern`.
async function mailArrives(pattern, seconds) {
  for (let i = 0; i < seconds * 5; ++i) {
    for (const name of fs.readdirSync(mails).filter((n) => n.endsWith(".subject"))) {
      const subject = fs.readFileSync(path.join(mails, name), "utf8");
      if (pattern.test(subject)) return fs.readFileSync(path.join(mails, name.replace(".subject", ".body")), "utf8");
    }
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  fail("no mail " + pattern + " within " + seconds + " s");
}

const browser = await launchBrowser();
let exitCode = 0;
try {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 }, bypassCSP: true });
  const page = await context.newPage();
  page.setDefaultTimeout(10000);
  const errors = [];
  page.on("pageerror", (e) => errors.push(e.message));
  await page.goto(watch);
  await page.waitForSelector("h1:has-text('A video greeting from')");
  await page.addScriptTag({ path: axePath });
  const result = await page.evaluate(() => axe.run(document, { resultTypes: ["violations"] }));
  const bad = result.violations.filter((v) => v.impact === "serious" || v.impact === "critical");
  if (bad.length) fail("axe on the watch page: " + bad.map((v) => v.id).join(", "));

  await page.evaluate(() => { const v = document.querySelector("video"); v.muted = true; return v.play(); });
  await page.waitForFunction(() => document.querySelector("video").currentTime > 1, null, { timeout: 15000 });
  const size = await page.evaluate(() => [document.querySelector("video").videoWidth, document.querySelector("video").error]);
  if (!(size[0] > 0) || size[1]) fail("the video does not decode: " + JSON.stringify(size));
  await page.screenshot({ path: path.join(output, "watch.png") });
  await mailArrives(/Your video greeting was watched/, 30);

  await page.fill("textarea[name=text]", "Thank you, Ann!");
  await page.click("button:has-text('Send the reply')");
  await page.waitForSelector("text=Your reply was sent.");
  const reply = await mailArrives(/A reply to your video greeting/, 30);
  if (!reply.includes("Thank you, Ann!")) fail("the reply's mail lacks the reply: " + reply);
  if (errors.length) fail("errors on the page: " + errors.join("; "));
  console.log("watch: the video plays, the sender hears of the view and of the reply");
} catch (e) {
  console.error("watch: FAILED: " + e.message);
  exitCode = 1;
} finally {
  await browser.close();
}
process.exit(exitCode);
