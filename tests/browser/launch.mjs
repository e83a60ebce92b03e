// SPDX-License-Identifier: GPL-3.0-or-later
// Debian's Chromium as the browser tests start it: headless, and without the background
// connections that this machine's closed network refuses.
import { chromium } from "playwright-core";

export const launchBrowser = () => chromium.launch({
  executablePath: "/usr/bin/chromium",
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
