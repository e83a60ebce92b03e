// SPDX-License-Identifier: GPL-3.0-or-later
// The skin list of the studio's page: the catalogue, the skin that is on, choosing one (the
// control tells which skin is on each time it changes).
"use strict";

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
    page.skinAsked = null;
    markSkinOn();
    throw e;
  }));
}

function skinFailed(why) {
  const skin = page.skins.find((s) => s.id === page.skinAsked);
  page.skinAsked = null;
  markSkinOn();
  showNotice("The skin " + (skin ? "“" + skin.name + "” " : "") + "could not be put on: " + why +
             ". Choose another one, or record without a skin.");
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

$("skin-list").addEventListener("click", (e) => {
  // A pointer click chooses; the arrow keys only move the selection (their clicks have no detail).
  if (e.target.matches("input[type=radio]") && e.detail > 0) chooseSkin(e.target);
});
$("skin-list").addEventListener("keydown", (e) => {
  if (e.target.matches("input[type=radio]") && (e.key === "Enter" || e.key === " ")) {
    e.preventDefault();
    e.target.checked = true;
    chooseSkin(e.target);
  }
});

loadSkins();
