// SPDX-License-Identifier: GPL-3.0-or-later
// The camera and microphone the person records with: chosen from the studio's lists (kept by the
// studio for the next time, and following devices plugged in or removed), with a level meter of
// the microphone and a word when nothing is heard for a while.
"use strict";

const QUIET_DBFS = -50, QUIET_MS = 3000, METER_FLOOR_DBFS = -60;
const devices = { list: null, quietSince: null };

const option = (value, text) => {
  const element = document.createElement("option");
  element.value = value;
  element.textContent = text;
  return element;
};

// The name of the microphone that is heard, for the meter.
function microphoneName() {
  const list = devices.list, chosen = list && list.microphones.find((m) => m.device === list.microphone);
  return chosen ? chosen.description : "the default microphone";
}

function showDevices(list) {
  devices.list = list;
  const cameras = list.cameras.map((c) => option(c.device, c.name));
  $("camera").replaceChildren(option("", "Automatic"), ...cameras);
  $("camera").value = list.cameras.some((c) => c.device === list.camera) ? list.camera : "";
  const camera = list.cameras.find((c) => c.device === $("camera").value);
  const sizes = camera ? camera.sizes : [];
  $("camera-size").replaceChildren(option("", "Best up to 1280 × 720"),
                                   ...sizes.map(([w, h]) => option(w + "x" + h, w + " × " + h)));
  $("camera-size").value = list.size && camera ? list.size.join("x") : "";
  $("camera-size").disabled = !camera || $("camera").disabled;
  $("microphone").replaceChildren(option("", "Automatic"),
                                  ...list.microphones.map((m) => option(m.device, m.description)));
  $("microphone").value = list.microphones.some((m) => m.device === list.microphone) ? list.microphone : "";
  $("meter").setAttribute("aria-label", "Microphone level: " + microphoneName());
  showShape();
}

// What size the greeting is sent at, and what part of the camera's picture it keeps.
function showShape() {
  const picture = devices.list && devices.list.picture;
  const sent = ctl.SentSize || (picture && picture.recorded);
  $("shape-note").hidden = !sent;
  if (!sent) return;
  const size = ([w, h]) => w + " × " + h;
  const cropped = picture && size(picture.camera) !== size(picture.recorded);
  $("shape-note").textContent = "Your greeting is sent at " + size(sent) +
    (cropped ? ": the middle of the camera's " + size(picture.camera) + " picture, never stretched." : ".");
}

async function refreshDevices() {
  try {
    showDevices(await ctl.devices());
  } catch (e) {
    // the studio is away or starting: the lists come with its "devices" event or the next connection
  }
}

async function chooseDevices(changed) {
  const size = changed === "camera" ? "" : $("camera-size").value;
  const choice = {
    camera: $("camera").value,
    size: size ? size.split("x").map(Number) : null,
    microphone: $("microphone").value,
  };
  devices.quietSince = null;
  $("not-heard").hidden = true;
  try {
    await ctl.chooseDevices(choice);
  } catch (e) {
    showNotice(e.number === 0 ? plainError(e) : e.description);
  }
  refreshDevices();
}

function showLevel({ peak }) {
  const shown = Math.max(METER_FLOOR_DBFS, Math.min(0, peak));
  $("meter-fill").style.width = ((shown - METER_FLOOR_DBFS) / -METER_FLOOR_DBFS) * 100 + "%";
  $("meter").setAttribute("aria-valuenow", String(Math.round(shown)));
  $("meter").setAttribute("aria-valuetext", peak <= METER_FLOOR_DBFS ? "silent" : Math.round(peak) + " dB");
  $("meter-text").textContent = peak <= METER_FLOOR_DBFS ? "silent" : Math.round(peak) + " dB";
  const now = performance.now();
  if (peak >= QUIET_DBFS) devices.quietSince = null;
  else devices.quietSince ??= now;
  const quiet = devices.quietSince !== null && now - devices.quietSince >= QUIET_MS;
  $("meter").dataset.quiet = String(quiet);
  $("not-heard").hidden = !quiet;
}

$("camera").addEventListener("change", () => chooseDevices("camera"));
$("camera-size").addEventListener("change", () => chooseDevices("size"));
$("microphone").addEventListener("change", () => chooseDevices("microphone"));
ctl.addEventListener("devices", (e) => showDevices(e.detail));
ctl.addEventListener("level", (e) => showLevel(e.detail));
ctl.addEventListener("devicefailure", (e) => showNotice(e.detail.detail));
ctl.addEventListener("connected", refreshDevices);
// Playback is not the microphone: the meter rests meanwhile.
ctl.addEventListener("StatusChanged", () => {
  showShape();
  if (ctl.ClientStatus !== STATUS.playing) return;
  devices.quietSince = null;
  $("meter-fill").style.width = "0";
  $("meter-text").textContent = "";
  $("not-heard").hidden = true;
});
refreshDevices();
