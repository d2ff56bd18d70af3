// The dialog above the main window: a wizard, a dialog or the about box, and
// a chooser or question above that. It shows what the server's "dialog"
// holds and sends each thing the person does as one action; the dialog's own
// code on the server decides what follows, so the page only shows it.
// Every text from the server is set through textContent, never as markup.
"use strict";

const typingDelayMs = 300;

const dialogView = {
  serial: 0,        // of the dialog shown
  layout: "",       // its serial, page and controls, to know when to rebuild
  focusKey: "",     // the refusal whose control was focused last
  topKey: "",       // what was in front last time (dialog, chooser, question)
  pending: new Map(),  // control id -> {timer, text} of typed text not yet sent
  sending: Promise.resolve(),
};

function byId(id) {
  return document.getElementById(id);
}

// Sends one action to the thing with `serial`, after what was sent before,
// then shows the outcome.
function sendAction(serial, action, more) {
  const body = Object.assign({serial: serial, action: action}, more || {});
  dialogView.sending = dialogView.sending.then(async () => {
    try {
      const answer = await call("/api/dialog", body);
      if (!answer.queued && answer.message) showMessage(answer.message);
    } catch (error) {
      showMessage(error.message);
    }
  });
  return dialogView.sending.then(refresh);
}

// Typed text goes out once the person pauses, so the page's rules react
// while they type.
function typed(id, element) {
  element.dataset.dirty = "1";
  const waiting = dialogView.pending.get(id);
  if (waiting) clearTimeout(waiting.timer);
  const serial = dialogView.serial;
  const timer = setTimeout(() => flushTyping(id), typingDelayMs);
  dialogView.pending.set(id, {timer: timer, serial: serial, element: element});
}

function flushTyping(id) {
  const waiting = dialogView.pending.get(id);
  if (!waiting) return dialogView.sending;
  clearTimeout(waiting.timer);
  dialogView.pending.delete(id);
  return sendAction(waiting.serial, "set", {id: id, text: waiting.element.value});
}

function flushAllTyping() {
  return Promise.all(Array.from(dialogView.pending.keys()).map(flushTyping));
}

// The actions that check the page's values before it is left.
const leavingActions = new Set(["back", "next", "ok", "page"]);

async function dialogAction(action, more) {
  await flushAllTyping();
  await sendAction(dialogView.serial, action, more);
  // A refused step puts the focus back on the refused field, also when the
  // same refusal already showed while it was typed.
  const dialog = shownDialog;
  if (!leavingActions.has(action) || dialog === null || !dialog.message ||
      dialog.chooser !== null || dialog.question !== null)
    return;
  const refused = byId("control-" + dialog.focus);
  if (refused) refused.focus();
}

function textOf(value) {
  return String(value).replace(/\r\n/g, "\n");
}

function labelFor(control, element) {
  const label = document.createElement("label");
  label.htmlFor = element.id;
  label.textContent = control.label;
  return label;
}

// Formatted text from its segments: text, line breaks, paragraphs and web
// links, each built as its own element.
function buildSegments(container, segments) {
  container.replaceChildren();
  let paragraph = document.createElement("p");
  container.appendChild(paragraph);
  for (const segment of segments) {
    if (segment.kind === "text") {
      paragraph.appendChild(document.createTextNode(segment.text));
    } else if (segment.kind === "break") {
      paragraph.appendChild(document.createElement("br"));
    } else if (segment.kind === "paragraph") {
      paragraph = document.createElement("p");
      container.appendChild(paragraph);
    } else if (segment.kind === "link" && !/^https?:\/\//i.test(segment.href)) {
      // The server lets web links through only; anything else stays text.
      paragraph.appendChild(document.createTextNode(segment.text));
    } else if (segment.kind === "link") {
      const link = document.createElement("a");
      link.href = segment.href;
      link.target = "_blank";
      link.rel = "noopener noreferrer";
      link.textContent = segment.text;
      paragraph.appendChild(link);
    }
  }
}

function buildControl(control) {
  const box = document.createElement("div");
  box.className = "control " + control.kind;
  box.dataset.id = String(control.id);
  box.dataset.kind = control.kind;
  const id = "control-" + control.id;
  let element = null;
  switch (control.kind) {
    case "edit":
    case "multiline":
      element = document.createElement(control.kind === "edit" ? "input" : "textarea");
      if (control.kind === "edit") element.type = "text";
      else element.rows = 4;
      element.id = id;
      element.addEventListener("input", () => typed(control.id, element));
      if (control.kind === "edit") {
        element.addEventListener("keydown", (event) => {
          if (event.key === "Enter") flushTyping(control.id);
        });
      }
      element.addEventListener("blur", () => flushTyping(control.id));
      box.append(labelFor(control, element), element);
      break;
    case "check":
      element = document.createElement("input");
      element.type = "checkbox";
      element.id = id;
      element.addEventListener("change", () =>
        dialogAction("check", {id: control.id, value: element.checked ? 1 : 0}));
      box.append(element, labelFor(control, element));
      break;
    case "combo":
      element = document.createElement("select");
      element.id = id;
      element.addEventListener("change", () =>
        dialogAction("select", {id: control.id, value: element.selectedIndex}));
      box.append(labelFor(control, element), element);
      break;
    case "button":
      element = document.createElement("button");
      element.type = "button";
      element.id = id;
      element.addEventListener("click", () => dialogAction("click", {id: control.id}));
      box.append(element);
      break;
    case "html":
      element = document.createElement("div");
      element.id = id;
      box.append(element);
      break;
    case "group":
      element = document.createElement("h3");
      element.id = id;
      box.append(element);
      break;
    case "picture":
      box.hidden = true;
      break;
    default:
      element = document.createElement("p");
      element.id = id;
      box.append(element);
  }
  return box;
}

// The colours, size and margin a coloured text control asks for.
function applyStyle(element, style) {
  element.style.color = style && style.colour ? style.colour : "";
  element.style.backgroundColor = style && style.background ? style.background : "";
  element.style.fontSize = style && style.size > 0 ? style.size + "pt" : "";
  element.style.fontWeight = style && style.bold ? "bold" : "";
  element.style.padding = style && style.padding > 0 ? style.padding + "px" : "";
}

// Brings a built control up to its record; a field the person is typing in
// keeps what they typed.
function updateControl(box, control) {
  const element = box.querySelector("#control-" + control.id);
  if (!element) return;
  if ("disabled" in element) element.disabled = !control.enabled;
  box.classList.toggle("disabled", !control.enabled);
  if (control.kind === "static" || control.kind === "html") applyStyle(element, control.style);
  switch (control.kind) {
    case "edit":
    case "multiline": {
      const text = textOf(control.text);
      const typing = element === document.activeElement || dialogView.pending.has(control.id);
      if (element.value === text) delete element.dataset.dirty;
      else if (!(typing && element.dataset.dirty)) element.value = text;
      setText(box.querySelector("label"), control.label);
      break;
    }
    case "check":
      element.checked = control.check === 1;
      setText(box.querySelector("label"), control.label);
      break;
    case "combo": {
      const items = control.items.map(String);
      const current = Array.from(element.options).map((option) => option.textContent);
      if (current.join("\n") !== items.join("\n") || current.length !== items.length) {
        element.replaceChildren(...items.map((item) => {
          const option = document.createElement("option");
          option.textContent = item;
          return option;
        }));
      }
      element.selectedIndex = control.selection;
      setText(box.querySelector("label"), control.label);
      break;
    }
    case "html":
      if (element.dataset.segments !== JSON.stringify(control.segments)) {
        element.dataset.segments = JSON.stringify(control.segments);
        buildSegments(element, control.segments);
      }
      break;
    default:
      setText(element, control.label);
  }
  box.hidden = control.kind === "picture" || (control.kind === "static" && !control.label);
}

function focusFirst(container) {
  const first = container.querySelector(
    "input:not(:disabled), select:not(:disabled), textarea:not(:disabled), " +
    "button:not(:disabled), a[href]");
  if (first) first.focus();
}

function showPages(dialog) {
  const nav = byId("dialog-pages");
  nav.hidden = !dialog.sheet;
  while (nav.children.length > dialog.pages.length) nav.lastChild.remove();
  dialog.pages.forEach((page, index) => {
    let button = nav.children[index];
    if (!button) {
      button = document.createElement("button");
      button.type = "button";
      button.dataset.page = String(index);
      button.addEventListener("click", () => dialogAction("page", {value: index}));
      nav.appendChild(button);
    }
    setText(button, page.caption + (page.modified ? " *" : ""));
    button.dataset.modified = page.modified ? "true" : "false";
    if (page.active) button.setAttribute("aria-current", "step");
    else button.removeAttribute("aria-current");
  });
}

function showButtons(dialog) {
  const row = byId("dialog-buttons");
  const wanted = dialog.buttons.map((button) => button.action).join(" ");
  if (row.dataset.actions !== wanted) {
    row.dataset.actions = wanted;
    row.replaceChildren(...dialog.buttons.map((entry) => {
      const button = document.createElement("button");
      button.type = "button";
      button.dataset.action = entry.action;
      button.addEventListener("click", () => dialogAction(entry.action));
      return button;
    }));
  }
  dialog.buttons.forEach((entry, index) => {
    const button = row.children[index];
    setText(button, entry.label);
    button.disabled = !entry.enabled;
    const isDefault = dialog.enter !== null && dialog.enter.action === entry.action;
    button.classList.toggle("default", isDefault);
  });
}

// The picture or colour the dialog paints behind its controls.
function showBackground(panel, background) {
  const picture = byId("dialog-picture");
  const source = background && background.picture ? background.picture + "?" + dialogView.serial : "";
  if (source && picture.getAttribute("src") !== source) picture.src = source;
  picture.hidden = !source;
  panel.classList.toggle("pictured", Boolean(source));
  panel.style.backgroundColor = background && background.colour ? background.colour : "";
}

function showDialogPanel(dialog) {
  const panel = byId("dialog");
  const controls = byId("dialog-controls");
  panel.dataset.serial = String(dialog.serial);
  dialogView.serial = dialog.serial;
  showBackground(panel, dialog.background);
  setText(byId("dialog-caption"), dialog.caption);
  showPages(dialog);
  const active = dialog.pages.findIndex((page) => page.active);
  const layout = dialog.serial + "|" + active + "|" +
      dialog.controls.map((control) => control.id + ":" + control.kind).join(",");
  const rebuilt = layout !== dialogView.layout;
  if (rebuilt) {
    dialogView.layout = layout;
    for (const waiting of dialogView.pending.values()) clearTimeout(waiting.timer);
    dialogView.pending.clear();
    controls.replaceChildren(...dialog.controls.map(buildControl));
  }
  dialog.controls.forEach((control, index) => updateControl(controls.children[index], control));
  showButtons(dialog);
  setText(byId("dialog-message"), dialog.message);
  return rebuilt;
}

function showChooser(chooser) {
  const panel = byId("chooser");
  panel.hidden = chooser === null;
  if (chooser === null) return;
  panel.dataset.serial = String(chooser.serial);
  panel.dataset.kind = chooser.kind;
  setText(byId("chooser-title"), chooser.title);
  setText(byId("chooser-folder"), chooser.folder);
  setText(byId("chooser-message"), chooser.message);
  setText(byId("chooser-note"), chooser.note);
  byId("chooser-naming").hidden = !chooser.saving;
  byId("chooser-choose").hidden = chooser.kind !== "folder" && !chooser.saving;
  setText(byId("chooser-choose"), chooser.saving ? "Save here" : "Choose this folder");
  const list = byId("chooser-entries");
  const names = chooser.entries.map((entry) => entry.name + (entry.folder ? "/" : "")).join("\n");
  if (list.dataset.names === names && list.dataset.folder === chooser.folder) return;
  list.dataset.names = names;
  list.dataset.folder = chooser.folder;
  list.replaceChildren(...chooser.entries.map((entry) => {
    const item = document.createElement("li");
    const button = document.createElement("button");
    button.type = "button";
    button.dataset.name = entry.name;
    button.dataset.folder = entry.folder ? "true" : "false";
    button.textContent = entry.name + (entry.folder ? "/" : "");
    button.addEventListener("click", () =>
      sendAction(chooser.serial, entry.folder ? "open" : "choose", {name: entry.name}));
    item.appendChild(button);
    return item;
  }));
}

function showQuestion(question) {
  const panel = byId("question");
  panel.hidden = question === null;
  if (question === null) return;
  panel.dataset.serial = String(question.serial);
  setText(byId("question-text"), question.text);
}

// The thing in front: what Enter and Escape act on, and where focus goes.
function front(dialog) {
  if (dialog.question !== null) return {panel: byId("question"), serial: dialog.question.serial};
  if (dialog.chooser !== null) return {panel: byId("chooser"), serial: dialog.chooser.serial};
  return {panel: byId("dialog"), serial: dialog.serial};
}

let shownDialog = null;

// Called with every state: shows `dialog`, or hides the layer for null.
function showDialog(dialog) {
  shownDialog = dialog;
  const layer = byId("dialog-layer");
  layer.hidden = dialog === null;
  if (dialog === null) {
    dialogView.layout = "";
    dialogView.topKey = "";
    dialogView.focusKey = "";
    byId("dialog-controls").replaceChildren();
    return;
  }
  const rebuilt = showDialogPanel(dialog);
  showChooser(dialog.chooser);
  showQuestion(dialog.question);
  byId("dialog").inert = dialog.chooser !== null || dialog.question !== null;
  byId("chooser").inert = dialog.question !== null;

  const top = front(dialog);
  const topKey = top.panel.id + ":" + top.serial;
  const focusKey = dialog.message ? dialog.serial + ":" + dialog.message + ":" + dialog.focus : "";
  if (topKey !== dialogView.topKey) {
    dialogView.topKey = topKey;
    if (top.panel.id === "question") byId("question-no").focus();
    else focusFirst(top.panel.id === "dialog" ? byId("dialog-controls") : top.panel);
    if (top.panel.id === "dialog" && !top.panel.contains(document.activeElement))
      focusFirst(top.panel);
  } else if (top.panel.id === "dialog" && focusKey && focusKey !== dialogView.focusKey) {
    const refused = byId("control-" + dialog.focus);
    if (refused) refused.focus();
  } else if (rebuilt && top.panel.id === "dialog") {
    focusFirst(byId("dialog-controls"));
  }
  dialogView.focusKey = focusKey;
}

function onDialogKey(event) {
  if (shownDialog === null) return;
  const top = front(shownDialog);
  if (event.key === "Escape") {
    event.preventDefault();
    if (top.panel.id === "question") sendAction(top.serial, "no");
    else if (top.panel.id === "chooser") sendAction(top.serial, "cancel");
    else dialogAction("cancel");
    return;
  }
  if (event.key !== "Enter" || top.panel.id !== "dialog" || shownDialog.enter === null) return;
  const target = event.target;
  if (target.tagName === "TEXTAREA" || target.tagName === "BUTTON" || target.tagName === "A") return;
  event.preventDefault();
  dialogAction(shownDialog.enter.action);
}

document.addEventListener("DOMContentLoaded", () => {
  byId("dialog-layer").addEventListener("keydown", onDialogKey);
  byId("chooser-up").addEventListener("click", () =>
    sendAction(Number(byId("chooser").dataset.serial), "up"));
  byId("chooser-cancel").addEventListener("click", () =>
    sendAction(Number(byId("chooser").dataset.serial), "cancel"));
  byId("chooser-choose").addEventListener("click", () => {
    const saving = !byId("chooser-naming").hidden;
    const more = saving ? {name: byId("chooser-name").value} : {};
    sendAction(Number(byId("chooser").dataset.serial), "choose", more);
  });
  byId("question-yes").addEventListener("click", () =>
    sendAction(Number(byId("question").dataset.serial), "yes"));
  byId("question-no").addEventListener("click", () =>
    sendAction(Number(byId("question").dataset.serial), "no"));
});
