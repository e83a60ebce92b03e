// SPDX-License-Identifier: GPL-3.0-or-later
// The skin list of the studio's page: the catalogue, the skin that is on, choosing one (the
// control tells which skin is on each time it changes).
"use strict";

// A skin's picture shows its key colour as what it is in the greeting: see-through.
function clearKeyColour(img) {
  const key = ctl.KeyColour;
  if (key === null || img.dataset.keyed || !img.naturalWidth) return;
  const canvas = document.createElement("canvas");
  [canvas.width, canvas.height] = [img.naturalWidth, img.naturalHeight];
  const context = canvas.getContext("2d");
  context.drawImage(img, 0, 0);
  const pixels = context.getImageData(0, 0, canvas.width, canvas.height);
  const [r, g, b] = [key & 255, (key >> 8) & 255, (key >> 16) & 255];
  for (let i = 0; i < pixels.data.length; i += 4)
    if (pixels.data[i] === r && pixels.data[i + 1] === g && pixels.data[i + 2] === b) pixels.data[i + 3] = 0;
  context.putImageData(pixels, 0, 0);
  img.dataset.keyed = "true";
  img.src = canvas.toDataURL();
}

async function loadSkins() {
  let skins = [], note = "";
  try {
    skins = await ctl.skins();
    if (!skins.length) note = "This greeting server lists no skins.";
  } catch (e) {
    note = "The skins could not be fetched from the greeting server.";
  }
  $("skin-note").textContent = note;
  $("skin-note").hidden = !note;
  // The same list again keeps its buttons, and the one with focus.
  if (JSON.stringify(skins) === JSON.stringify(page.skins) && $("skin-list").children.length) return;
  page.skins = skins;
  const choices = [{ id: -1, name: "No skin" }, ...skins];
  $("skin-list").replaceChildren(...choices.map((skin) => {
    const label = document.createElement("label");
    label.className = "skin";
    const input = document.createElement("input");
    input.type = "radio";
    input.name = "skin";
    input.value = skin.id;
    label.append(input);
    if (skin.thumbnail) {
      const img = document.createElement("img");
      img.addEventListener("load", () => clearKeyColour(img));
      img.src = skin.thumbnail;
      img.alt = "";
      label.append(img);
    }
    label.append(document.createTextNode(skin.name));
    return label;
  }));
  markSkinOn();
  follow();
}

// The list shows the skin that is on, whatever was picked last.
function markSkinOn() {
  const radio = document.querySelector(`#skin-list input[value="${page.skinOn}"]`) ||
                document.querySelector("#skin-list input[value='-1']");
  if (radio) radio.checked = true;
}

function chooseSkin(input) {
  clearNotice();
  page.skinAsked = Number(input.value);
  page.returnFocus = input;
  run(ctl.LoadSkin(page.skinAsked).catch((e) => {
    if (e.number !== 0 && isTechnical(e.description || "")) {
      const why = unreachable(e.description) ? "the greeting server could not be reached"
                                             : "the greeting server did not deliver it";
      return skinFailed(why, e.description);
    }
    page.skinAsked = null;
    markSkinOn();
    throw e;
  }));
}

function skinFailed(why, technical = "") {
  const skin = page.skins.find((s) => s.id === page.skinAsked);
  page.skinAsked = null;
  markSkinOn();
  showNotice("The skin " + (skin ? "“" + skin.name + "” " : "") + "could not be put on: " + why +
             ". Choose another one, or record without a skin.", technical);
}

// The control tells which skin is on each time it changes; while the asked one downloads, a
// placeholder is on.
ctl.addEventListener("skin", (e) => {
  const asked = page.skinAsked, on = e.detail.on ? e.detail.id : -1;
  page.skinOn = on;
  if (asked === null || on === asked) {
    page.skinAsked = null;
    markSkinOn();
  } else if (on === -1) {
    skinFailed("the greeting server did not deliver it");
  }
});

// A skin goes on as it is chosen: at once by pointer, Enter or Space, and when the arrow keys
// rest on it for a moment (passing over one does not download it).
let skinTimer = 0;
$("skin-list").addEventListener("change", (e) => {
  if (!e.target.matches("input[type=radio]")) return;
  clearTimeout(skinTimer);
  const id = Number(e.target.value);
  skinTimer = setTimeout(() => {
    // A pointer's click has put it on already (its "change" follows the click).
    if (e.target.checked && id !== page.skinAsked && id !== page.skinOn) chooseSkin(e.target);
  }, 400);
});
$("skin-list").addEventListener("click", (e) => {
  if (!e.target.matches("input[type=radio]") || e.detail === 0) return;  // arrow keys: "change"
  clearTimeout(skinTimer);
  chooseSkin(e.target);
});
$("skin-list").addEventListener("keydown", (e) => {
  if (e.target.matches("input[type=radio]") && (e.key === "Enter" || e.key === " ")) {
    e.preventDefault();
    e.target.checked = true;
    clearTimeout(skinTimer);
    chooseSkin(e.target);
  }
});

// The key colour comes with the control's state, which may follow the pictures.
ctl.addEventListener("StatusChanged", () => document.querySelectorAll("#skin-list img").forEach(clearKeyColour));
loadSkins();
