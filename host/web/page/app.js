// The main window's page. It shows what /api/state says and sends what the
// person does; whether a command is enabled or checked is the server's word.
// Every text from the server is set through textContent, never as markup.
"use strict";

const columns = ["name", "status", "activity", "file", "copied", "unchanged", "skipped",
                 "failed", "bytes", "rate", "lastRun"];
const numeric = new Set(["copied", "unchanged", "skipped", "failed", "bytes", "rate"]);
const refreshMs = 1000;

let selected = -1;
let rowCount = 0;
let timer = null;

function setText(element, text) {
  const value = String(text);
  if (element.textContent !== value) element.textContent = value;
}

function showMessage(text) {
  setText(document.getElementById("message"), text || "");
}

async function call(path, body) {
  const options = body === undefined ? {} : {
    method: "POST",
    headers: {"Content-Type": "application/json"},
    body: JSON.stringify(body),
  };
  const response = await fetch(path, Object.assign({credentials: "same-origin"}, options));
  let answer = null;
  try { answer = await response.json(); } catch (e) { answer = null; }
  if (response.status === 401) throw new Error("Not signed in: open the address ulvaren ui printed.");
  if (answer === null) throw new Error("ulvaren ui did not answer (" + response.status + ").");
  return answer;
}

function makeRow(index) {
  const row = document.createElement("tr");
  row.tabIndex = -1;
  row.dataset.index = String(index);
  for (const column of columns) {
    const cell = document.createElement(column === "name" ? "th" : "td");
    if (column === "name") cell.scope = "row";
    if (numeric.has(column)) cell.className = "num";
    if (column === "file") cell.className = "wide";
    row.appendChild(cell);
  }
  row.addEventListener("click", () => select(index));
  return row;
}

// Rows are kept and changed in place, so nothing flickers and focus stays.
function showSets(sets) {
  const body = document.querySelector("#sets tbody");
  while (body.rows.length > sets.length) body.deleteRow(-1);
  while (body.rows.length < sets.length) body.appendChild(makeRow(body.rows.length));
  sets.forEach((set, index) => {
    const row = body.rows[index];
    columns.forEach((column, i) => setText(row.cells[i], set[column]));
    // A paused run is still Running; the row says it waits.
    if (set.paused) setText(row.cells[columns.indexOf("status")], set.status + ", paused");
    if (set.file) row.cells[columns.indexOf("file")].title = set.file;
    const isSelected = index === selected;
    row.setAttribute("aria-selected", isSelected ? "true" : "false");
    row.tabIndex = isSelected || (selected < 0 && index === 0) ? 0 : -1;
  });
  rowCount = sets.length;
  document.getElementById("empty").hidden = sets.length > 0;
}

function showCommands(commands) {
  const toolbar = document.getElementById("toolbar");
  for (const command of commands) {
    let button = toolbar.querySelector('button[data-name="' + command.name + '"]');
    if (!button) {
      button = document.createElement("button");
      button.type = "button";
      button.dataset.name = command.name;
      button.addEventListener("click", () => run(command.name));
      toolbar.appendChild(button);
    }
    setText(button, command.label);
    button.disabled = !command.enabled;
    if (command.name === "pause" || command.name === "pause-all")
      button.setAttribute("aria-pressed", command.checked ? "true" : "false");
  }
}

// While a dialog is open the main window is shown but takes nothing, as a
// modal dialog disables it.
function show(state) {
  selected = state.selected;
  showSets(state.sets);
  showCommands(state.commands);
  if (state.message) showMessage(state.message);
  const dialog = state.dialog === undefined ? null : state.dialog;
  for (const part of document.querySelectorAll("body > header, body > main, body > footer"))
    part.inert = dialog !== null;
  showDialog(dialog);
  openLog(state.log === undefined ? null : state.log, call);
}

// Refreshes may overlap (the timer's and one after an action): an answer
// older than one already shown is dropped.
let refreshesAsked = 0;
let refreshShown = 0;

async function refresh() {
  clearTimeout(timer);
  const asked = ++refreshesAsked;
  try {
    const state = await call("/api/state");
    if (asked > refreshShown) {
      refreshShown = asked;
      show(state);
    }
  } catch (error) {
    showMessage(error.message);
  }
  if (asked === refreshesAsked) timer = setTimeout(refresh, refreshMs);
}

async function select(index) {
  try {
    show(await call("/api/select", {index: index}));
    const row = document.querySelector("#sets tbody").rows[index];
    if (row) row.focus();
  } catch (error) {
    showMessage(error.message);
  }
}

// A command that opens a dialog is queued: the state that follows shows it.
async function run(name) {
  showMessage("");
  try {
    const answer = await call("/api/command", {name: name});
    show(answer);
    if (answer.queued) await refresh();
  } catch (error) {
    showMessage(error.message);
  }
}

async function about() {
  showMessage("");
  try {
    const answer = await call("/api/about", {});
    if (answer.message) showMessage(answer.message);
    await refresh();
  } catch (error) {
    showMessage(error.message);
  }
}

async function quit() {
  try {
    const answer = await call("/api/quit", {});
    if (answer.quitting) {
      clearTimeout(timer);
      showMessage("ulvaren ui has ended; this page can be closed.");
    } else {
      showMessage(answer.message);
    }
  } catch (error) {
    showMessage(error.message);
  }
}

// Up and down move the selection through the list, Home and End to its ends.
function onListKey(event) {
  if (rowCount === 0) return;
  let next = selected;
  if (event.key === "ArrowDown") next = Math.min(rowCount - 1, selected + 1);
  else if (event.key === "ArrowUp") next = Math.max(0, selected - 1);
  else if (event.key === "Home") next = 0;
  else if (event.key === "End") next = rowCount - 1;
  else return;
  event.preventDefault();
  if (next !== selected) select(next);
}

document.addEventListener("DOMContentLoaded", () => {
  document.querySelector("#sets tbody").addEventListener("keydown", onListKey);
  document.getElementById("quit").addEventListener("click", quit);
  document.getElementById("about").addEventListener("click", about);
  refresh();
});
