// The log viewer's panel: the log that View log named, its newest part first,
// older parts (through the rotated files down to the oldest) loaded when the
// person asks. The log's text is set through textContent only.
"use strict";

let logPanel = null;
// The log this page closed: a refresh that was under way meanwhile may still
// name it, and must not bring it back.
let closedLogSerial = null;

// Shows the log that the state's "log" describes ({title, serial, size}, or
// null when none is open) and asks for its parts with `call(path, body)`,
// the page's request helper. Called on every refresh: the same serial leaves
// the panel as it is, a new one replaces it, null removes it.
function openLog(log, call) {
  if (!log) {
    if (logPanel) logPanel.remove(false);
    return;
  }
  if (log.serial === closedLogSerial || (logPanel && logPanel.serial === log.serial)) return;
  if (logPanel) logPanel.remove(false);
  logPanel = makeLogPanel(log, call);
  logPanel.loadOlder();
}

function makeLogPanel(log, call) {
  const section = document.createElement("section");
  section.className = "log";
  section.setAttribute("role", "region");
  section.setAttribute("aria-labelledby", "log-title");
  const heading = document.createElement("h2");
  heading.id = "log-title";
  heading.textContent = log.title;
  const status = document.createElement("p");
  status.setAttribute("role", "status");
  const buttons = document.createElement("div");
  buttons.className = "log-buttons";
  const older = document.createElement("button");
  older.type = "button";
  older.textContent = "Show older";
  const close = document.createElement("button");
  close.type = "button";
  close.textContent = "Close";
  buttons.append(older, close);
  const text = document.createElement("pre");
  text.tabIndex = 0;
  text.setAttribute("aria-label", "Text of " + log.title);
  // The text scrolls inside the panel, so that a part put in front can keep
  // the lines being read where they are.
  text.style.overflow = "auto";
  text.style.maxHeight = "60vh";
  section.append(heading, status, buttons, text);

  const returnFocus = document.activeElement;
  let start = null;  // offset of the oldest part shown; null before the first
  let busy = false;

  const panel = {
    serial: log.serial,

    async loadOlder() {
      if (busy || start === 0) return;
      busy = true;
      older.disabled = true;
      const request = {serial: log.serial};
      if (start !== null) request.before = start;
      try {
        const answer = await call("/api/log", request);
        if (logPanel !== panel) return;
        if (typeof answer.text !== "string") {
          status.textContent = answer.message || "The log could not be read.";
          return;
        }
        const part = document.createElement("span");
        part.textContent = answer.text;
        const fromBottom = text.scrollHeight - text.scrollTop;
        text.prepend(part);
        if (start === null) {
          text.scrollTop = text.scrollHeight;
          section.scrollIntoView({block: "nearest"});
          text.focus();
        } else {
          text.scrollTop = text.scrollHeight - fromBottom;
        }
        start = answer.start;
        older.hidden = answer.first;
        status.textContent = answer.first ? "The whole log is shown." : "";
      } catch (error) {
        status.textContent = error.message;
      } finally {
        busy = false;
        older.disabled = false;
      }
    },

    // Takes the panel off the page; with `tellServer`, closes the log there too.
    remove(tellServer) {
      if (logPanel === panel) logPanel = null;
      section.remove();
      if (tellServer) closedLogSerial = log.serial;
      if (tellServer) call("/api/log", {serial: log.serial, close: true}).catch(() => {});
      if (returnFocus && returnFocus.isConnected) returnFocus.focus();
    },
  };

  older.addEventListener("click", () => panel.loadOlder());
  close.addEventListener("click", () => panel.remove(true));
  section.addEventListener("keydown", (event) => {
    if (event.key !== "Escape") return;
    event.preventDefault();
    panel.remove(true);
  });
  document.querySelector("main").append(section);
  return panel;
}
