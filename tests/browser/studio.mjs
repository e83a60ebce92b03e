// Drives the studio page in Debian's Chromium as people do: by mouse, by keyboard only, in a narrow
// window, from two tabs, with the mail server gone and with the studio program gone; checks the
// mails in the drop and the page's accessibility with axe-core. One screenshot per stage is kept.
// Usage: node studio.mjs PAGE_URL MAIL_FOLDER OUTPUT_FOLDER MAIL_DROP_PID STUDIO_PID SERVER_PID
//        LATE_PAGE_URL LATE_PORT GREETING_SERVER SERVER_DATA STUDIO_COMMAND_JSON MAIL_DROP_COMMAND_JSON
// (the late studio's greeting server, on LATE_PORT, is started by the test itself, and so are the
// studio and the mail drop again after they were stopped: the two commands as JSON arrays)
import { chromium } from "playwright-core";
import fs from "node:fs";
import path from "node:path";
import { createRequire } from "node:module";
import { spawn } from "node:child_process";

const [pageUrl, mailFolder, output, mailPid, studioPid, serverPid, latePageUrl, latePort,
       greetingServer, serverData, studioCommand, mailDropCommand] = process.argv.slice(2);
const axePath = createRequire(import.meta.url).resolve("axe-core/axe.min.js");
const fail = (why) => { throw new Error(why); };
fs.mkdirSync(output, { recursive: true });

const browser = await chromium.launch({
  executablePath: "/usr/bin/chromium",
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});

async function open(context, url = pageUrl) {
  const page = await context.newPage();
  page.on("pageerror", (e) => console.error("page error: " + e.message));
  page.setDefaultTimeout(30000);
  await page.goto(url, { waitUntil: "domcontentloaded" });
  return page;
}

const stageOf = (page) => page.getAttribute("#stage", "data-stage");
async function stage(page, name, what = "") {
  await page.waitForSelector(`#stage[data-stage="${name}"]`)
      .catch(async () => fail(`${what} waited for stage ${name}; the page is at ${await stageOf(page)}: ` +
                              `"${await page.textContent("#stage-name")}" ${await page.textContent("#notice-text")}`));
}
const until = (page, what, fn, arg) =>
    page.waitForFunction(fn, arg).catch(async () => fail("waited for " + what + "; the page is at " +
                                                         await stageOf(page)));
const shot = (page, name) => page.screenshot({ path: path.join(output, name + ".png"), fullPage: true });

async function axe(page, when) {
  if (!(await page.evaluate(() => "axe" in window))) await page.addScriptTag({ path: axePath });
  const result = await page.evaluate(() => axe.run(document, { resultTypes: ["violations"] }));
  const bad = result.violations.filter((v) => v.impact === "serious" || v.impact === "critical");
  if (bad.length)
    fail("axe " + when + ": " + bad.map((v) => v.id + " (" + v.nodes.map((n) => n.target).join(" ") + ")").join(", "));
}

const mailsNow = () => fs.readdirSync(mailFolder).filter((f) => f.endsWith(".eml"));
async function mails(count) {
  const deadline = Date.now() + 30000;
  for (;;) {
    const found = mailsNow();
    if (found.length >= count) return found;
    if (Date.now() > deadline) fail(`${count} mails expected, ${found.length} arrived`);
    await new Promise((r) => setTimeout(r, 200));
  }
}

async function fillSender(page) {
  await page.fill("[name=name]", "Ann");
  await page.fill("[name=email]", "ann@example.com");
  await page.fill("[name=message]", "Happy birthday!");
}

const steps = [];
async function step(name, body) {
  const start = Date.now();
  await body();
  steps.push(name);
  console.log(`browser test: ${name} (${((Date.now() - start) / 1000).toFixed(1)} s)`);
}

let exitCode = 0;
let page;
let lateServer, studioAgain, mailDropAgain;
// Starts `command` (a JSON array) and resolves with the first match of `ready` in its output.
function launch(command, ready) {
  const [program, ...args] = JSON.parse(command);
  const child = spawn(program, args, { stdio: ["ignore", "pipe", "inherit"] });
  const said = new Promise((resolve) => {
    let text = "";
    child.stdout.on("data", (d) => {
      text += d;
      const found = text.match(ready);
      if (found) resolve(found[0]);
    });
  });
  return { child, said };
}
try {
  const context = await browser.newContext({ viewport: { width: 1000, height: 900 } });

  await step("the greeting server down at start: the reason, and Retry once it is back", async () => {
    const late = await open(context, latePageUrl);
    await stage(late, "failed");
    await late.waitForSelector("#notice:not([hidden])");
    if (!/could not start/.test(await late.textContent("#notice-text")))
      fail("the notice says: " + await late.textContent("#notice-text"));
    if (!(await late.isDisabled("#record"))) fail("Record is offered by a studio that did not start");
    await shot(late, "start-failed");
    lateServer = spawn(greetingServer, ["--data", serverData, "--port", latePort], { stdio: ["ignore", "pipe", "inherit"] });
    await new Promise((resolve) => lateServer.stdout.on("data", (d) => { if (/READY/.test(d)) resolve(); }));
    await late.click("#notice-actions button");
    await stage(late, "ready", "after Retry");
    await late.close();
  });

  page = await open(context);

  await step("by mouse: skin, countdown, recording with its timer, review, playback, send", async () => {
    await stage(page, "ready");
    await axe(page, "at load");
    if (!(await page.isDisabled("#play")) || !(await page.isDisabled("#send")))
      fail("Play and Send are offered before anything was recorded");
    await page.waitForSelector("#skin-list input[value='42']");
    await page.click("#skin-list label:has(input[value='42'])");
    await page.waitForFunction(() => statusHistory.includes(2));
    await stage(page, "ready", "after the skin");
    await page.click("#record");
    await stage(page, "countdown");
    await shot(page, "countdown");
    await stage(page, "recording");
    if ((await page.evaluate(() => document.activeElement.id)) !== "stop") fail("focus is not on Stop");
    await page.waitForFunction(() => document.getElementById("elapsed").textContent === "0:01");
    if ((await page.textContent("#limit")) !== "0:03") fail("the limit shown is " + await page.textContent("#limit"));
    await shot(page, "recording");
    await axe(page, "while recording");
    await stage(page, "review", "after the time limit");
    await shot(page, "review");
    await page.click("#play");
    await stage(page, "playing");
    await stage(page, "review", "after playback");
    // The recording's sound plays on the machine's sound output; without one the page says so.
    const noSoundCard = !fs.existsSync("/dev/snd");
    if (noSoundCard && !(await page.isVisible("#sound-note"))) fail("no sound output, and the page does not say so");
    await fillSender(page);
    await page.fill("[name=r-name]", "Bob");
    await page.fill("[name=r-mobile]", "+41 79 555 01 01");
    await page.fill("[name=r-email]", "bob@example.com");
    await page.click("#send");
    await page.waitForSelector("#panel:not([hidden])");
    if (!(await page.isDisabled("#send-mobile"))) fail("the mobile send is offered during a send");
    await page.waitForFunction(() => /^(Compressing|Sending) \d+ %$/.test(document.getElementById("bar-label").textContent));
    await shot(page, "sending");
    await page.waitForSelector("#outcome:not([hidden])");
    if ((await page.textContent("#outcome-title")) !== "Sent") fail("outcome: " + await page.textContent("#outcome-text"));
    await shot(page, "sent");
    const [mail] = await mails(1);
    const parts = path.join(mailFolder, mail.replace(/\.eml$/, ".parts"));
    for (const file of ["Moviletta.mpg", "Moviletta.jpg"])
      if (!fs.existsSync(path.join(parts, file)) || fs.statSync(path.join(parts, file)).size === 0)
        fail(file + " missing from the mail");
  });

  await step("fields are checked before anything is sent", async () => {
    await page.fill("[name=email]", "bob@@example");
    await page.click("#send");
    if (!(await page.evaluate(() => document.activeElement.name === "email"))) fail("the bad e-mail is not pointed at");
    await page.fill("[name=email]", "ann@example.com");
    await page.fill("[name=r-name]", "Bob, the builder");
    await page.click("#send");
    if (!(await page.evaluate(() => document.activeElement.name === "r-name"))) fail("a comma in a name went through");
    await page.fill("[name=r-name]", "Bob");
    await page.focus("[name=r-email]");
    await page.keyboard.press("Enter");
    await page.waitForTimeout(500);
    if (await page.evaluate(() => statusHistory.includes(5) && statusHistory.filter((s) => s === 5).length > 1))
      fail("Enter in a field sent the greeting");
    if (mailsNow().length !== 1) fail("a mail went out");
  });

  await step("by keyboard only: skin list, record, stop, play, send to a mobile", async () => {
    await page.reload();
    await stage(page, "review", "after a reload, which keeps the recording");
    const marks = await page.evaluate(() => statusHistory.length);
    await page.focus("#skin-list input[value='-1']");
    await page.keyboard.press("ArrowRight");
    await page.waitForTimeout(300);
    if (await page.evaluate((m) => statusHistory.slice(m).includes(2), marks)) fail("an arrow key loaded a skin");
    await page.keyboard.press("Enter");
    await until(page, "Enter to load the skin", (m) => statusHistory.slice(m).includes(2), marks);
    await stage(page, "review");
    await page.focus("#countdown");
    await page.keyboard.press("Space");
    await page.focus("#record");
    await page.keyboard.press("Enter");
    await stage(page, "recording");
    await page.waitForTimeout(1200);
    await page.keyboard.press("Enter");  // focus is on Stop
    await stage(page, "review", "after Stop");
    await until(page, "focus on Play", () => document.activeElement.id === "play");
    const played = await page.evaluate(() => statusHistory.length);
    await page.keyboard.press("Enter");
    await until(page, "playback", (m) => statusHistory.slice(m).includes(4), played);
    await stage(page, "review");
    await fillSender(page);
    await page.fill("[name=recipient]", "Bob");
    await page.fill("[name=mobile]", "+41 79 555 01 01");
    await page.focus("#send-mobile");
    await page.keyboard.press("Enter");
    await page.waitForSelector("#outcome:not([hidden])");
    if ((await page.textContent("#outcome-title")) !== "Sent") fail("outcome: " + await page.textContent("#outcome-text"));
    await mails(2);
  });

  await step("a reload during a send: the page shows the send going on and its outcome", async () => {
    await page.click("#send-mobile");
    await page.waitForSelector("#panel:not([hidden])");
    await page.reload();
    await page.waitForSelector("#outcome:not([hidden])");
    if ((await page.textContent("#outcome-title")) !== "Sent") fail("outcome: " + await page.textContent("#outcome-text"));
    await mails(3);
  });

  await step("a narrow window: no sideways scrolling, a stage that fits", async () => {
    await page.setViewportSize({ width: 390, height: 844 });
    await page.waitForTimeout(200);
    const widths = await page.evaluate(() => [document.documentElement.scrollWidth,
                                              document.getElementById("stage").getBoundingClientRect().width]);
    if (widths[0] > 390 || widths[1] > 390) fail("at 390 px the page is " + widths[0] + " px and the stage " + widths[1]);
    await shot(page, "narrow");
    await page.setViewportSize({ width: 1000, height: 900 });
  });

  await step("two tabs: the second is told and may take over, the first learns it", async () => {
    const second = await open(context);
    await second.waitForSelector("#elsewhere[open]");
    await axe(second, "with a dialog open");
    await shot(second, "open-elsewhere");
    await second.click("#take-over");
    await second.waitForSelector("#elsewhere", { state: "hidden" });
    await page.waitForSelector("#elsewhere[open]");
    if (!(await page.isDisabled("#record"))) fail("the tab taken over can still record");
    await page.click("#take-over");
    await page.waitForSelector("#elsewhere", { state: "hidden" });
    await second.close();
  });

  await step("the greeting server gone: a skin that cannot come leaves the studio usable", async () => {
    process.kill(Number(serverPid), "SIGTERM");
    await page.click("#skin-list label:has(input[value='7'])");
    await page.waitForSelector("#notice:not([hidden])", { timeout: 20000 });
    await until(page, "the studio usable again", () => !document.getElementById("record").disabled);
    const said = await page.textContent("#notice-text");
    if (/127\.0\.0\.1|port|curl/i.test(said)) fail("the notice shows the library's text: " + said);
    await shot(page, "skin-failed");
  });

  await step("the mail server gone: Not sent, in plain words, with Try again", async () => {
    const watcher = await open(context);  // a second tab that does not drive
    await watcher.waitForSelector("#elsewhere[open]");
    process.kill(Number(mailPid), "SIGTERM");
    await fillSender(page);
    await page.fill("[name=recipient]", "Bob");
    await page.fill("[name=mobile]", "+41 79 555 01 01");
    await page.waitForFunction(() => !document.getElementById("send-mobile").disabled);
    await page.click("#send-mobile");
    await page.waitForSelector("#box[open]");
    await shot(page, "not-sent");
    const said = await page.textContent("#box-text");
    if (/127\.0\.0\.1|port/.test(said)) fail("the box shows the library's text: " + said);
    await page.click("#box-ok");
    await page.waitForSelector("#outcome:not([hidden])");
    if ((await page.textContent("#outcome-title")) !== "Not sent") fail("no Not sent");
    if (await page.isHidden("#try-again")) fail("no Try again");
    await page.waitForSelector("#outbox:not([hidden])");  // the greeting waits there
    if (await watcher.evaluate(() => document.getElementById("box").open))
      fail("the box opened in the tab that does not drive too");
    await watcher.close();
  });

  await step("the studio program gone: the page says so", async () => {
    if (await page.isVisible("#notice")) fail("a notice before the studio went: " + await page.textContent("#notice-text"));
    process.kill(Number(studioPid), "SIGTERM");
    await page.waitForSelector("#notice:not([hidden])");
    const said = await page.textContent("#notice-text");
    if (!/not running/.test(said)) fail("the page says: " + said);
  });

  await step("after a restart the greeting that was not sent waits in the outbox and goes from there", async () => {
    const dropArgs = JSON.parse(mailDropCommand);
    const folder = dropArgs[dropArgs.indexOf("--folder") + 1];  // the drop's mails, afresh
    const arrived = () => fs.readdirSync(folder).filter((f) => f.endsWith(".eml"));
    mailDropAgain = launch(mailDropCommand, /READY \d+/);
    await mailDropAgain.said;
    studioAgain = launch(studioCommand, /http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]+/);
    const again = await open(context, await studioAgain.said);
    await again.waitForSelector("#outbox:not([hidden])");
    const entries = await again.$$("#outbox-list li");
    if (entries.length !== 1) fail(entries.length + " greetings in the outbox, not 1");
    if (!/Bob/.test(await again.textContent("#outbox-list li .to"))) fail("the entry does not name Bob");
    await shot(again, "outbox");
    await axe(again, "with the outbox shown");
    await again.waitForFunction(() => !document.querySelector("#outbox-list .again").disabled);
    await again.click("#outbox-list .again");
    await again.waitForSelector("#outcome:not([hidden])");
    if ((await again.textContent("#outcome-title")) !== "Sent") fail("no Sent after sending again");
    await again.waitForSelector("#outbox", { state: "hidden" });
    const deadline = Date.now() + 10000;
    while (!arrived().length && Date.now() < deadline) await new Promise((r) => setTimeout(r, 200));
    await new Promise((r) => setTimeout(r, 1000));
    if (arrived().length !== 1) fail(arrived().length + " mails for one greeting sent again");
    const subject = fs.readFileSync(path.join(folder, arrived()[0].replace(/\.eml$/, ".subject")), "utf8");
    if (!/^Voxa-Mobile \+41 79 555 01 01/.test(subject)) fail("the mail sent again is " + subject);
    await again.close();
  });
  console.log("browser test: " + steps.length + " scenarios passed; screenshots in " + output);
} catch (e) {
  console.error("browser test: " + e.message);
  if (page && !page.isClosed()) {
    await shot(page, "failure").catch(() => {});
    console.error("browser test: the page shows " + JSON.stringify(await page.evaluate(() => ({
      stage: document.getElementById("stage").dataset.stage, statuses: statusHistory,
      notice: document.getElementById("notice").hidden ? "" : document.getElementById("notice-text").textContent,
      box: document.getElementById("box").open ? document.getElementById("box-tech").textContent : "",
      disabled: [...document.querySelectorAll("button:disabled")].map((b) => b.id).filter(Boolean),
    })).catch(() => "nothing")));
  }
  exitCode = 1;
} finally {
  for (const started of [lateServer, studioAgain && studioAgain.child, mailDropAgain && mailDropAgain.child])
    if (started) started.kill();
  await browser.close();
}
process.exit(exitCode);
