// Drives the studio page in Debian's Chromium: choose the animated skin, record, play back, send
// the greeting; then the mail must be in the drop with both attachments. A screenshot taken while
// recording is kept. Usage: node studio.mjs PAGE_URL MAIL_FOLDER OUTPUT_FOLDER
import { chromium } from "playwright-core";
import fs from "node:fs";
import path from "node:path";

const [pageUrl, mailFolder, output] = process.argv.slice(2);
const fail = (why) => { console.error("browser test: " + why); process.exit(1); };

const browser = await chromium.launch({
  executablePath: "/usr/bin/chromium",
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
try {
  const page = await browser.newPage();
  page.on("pageerror", (e) => console.error("page error: " + e.message));
  page.on("console", (m) => { if (m.type() === "error") console.error("page console: " + m.text()); });
  page.setDefaultTimeout(30000);
  await page.goto(pageUrl);
  const status = (text) => page.waitForFunction(
      (t) => document.getElementById("status").textContent === "Status: " + t, text)
      .catch(async () => fail("waited for status \"" + text + "\", the page says \"" +
                             await page.textContent("#status") + "\" and \"" +
                             await page.textContent("#refusal") + "\""));

  // Runs `act`, then waits until the page has shown status `code` since, and is ready again.
  const through = async (what, code, act) => {
    const mark = await page.evaluate(() => statusHistory.length);
    await act();
    await page.waitForFunction(([m, c]) => statusHistory.slice(m).includes(c), [mark, code])
        .catch(() => fail(what + ": status " + code + " never came"));
    await status("ready");
  };

  await status("ready");
  await through("skin", 2, () => page.selectOption("#skin", "42"));
  const recording = page.click("#record");
  await status("recording");
  fs.mkdirSync(output, { recursive: true });
  await page.waitForTimeout(1000);
  await page.screenshot({ path: path.join(output, "recording.png") });
  await recording;
  await status("ready");
  await through("playback", 4, () => page.click("#play"));
  await page.click("#send");
  await page.waitForFunction(() => document.getElementById("bar-text").textContent.startsWith("Sending"));
  await page.waitForFunction(() => document.getElementById("panel").hidden);
  if (await page.isVisible("#box")) fail("a message box: " + await page.textContent("#box-text"));

  const deadline = Date.now() + 20000;
  let mail;
  while (!mail && Date.now() < deadline) {
    mail = fs.readdirSync(mailFolder).find((f) => f.endsWith(".eml"));
    if (!mail) await new Promise((r) => setTimeout(r, 200));
  }
  if (!mail) fail("no mail arrived");
  const parts = path.join(mailFolder, mail.replace(/\.eml$/, ".parts"));
  for (const file of ["Moviletta.mpg", "Moviletta.jpg"])
    if (!fs.existsSync(path.join(parts, file)) || fs.statSync(path.join(parts, file)).size === 0)
      fail(file + " missing from the mail");
  console.log("browser test: recorded, played and sent from the page; the mail has both attachments");
} finally {
  await browser.close();
}
