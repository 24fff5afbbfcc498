// The dashboard: the fleet from the server's API, kept current by its event stream. Everything a
// panel sends is shown as text, never as markup.
"use strict";

const panels = new Map();
const tokenField = document.getElementById("token");
tokenField.value = new URLSearchParams(location.hash.slice(1)).get("token") || sessionStorage.getItem("token") || "";
tokenField.addEventListener("change", () => { sessionStorage.setItem("token", tokenField.value); start(); });

const sessions = { 0: "none", 1: "started", 3: "connected" };

function element(tag, text, attributes = {}) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  return node;
}

function headers() {
  return tokenField.value ? { Authorization: "Bearer " + tokenField.value } : {};
}

function say(text) {
  document.getElementById("message").textContent = text;
}

// Asks before an order goes out; resolves true when the administrator confirms.
function confirmed(question) {
  const dialog = document.getElementById("confirm");
  document.getElementById("question").textContent = question;
  dialog.returnValue = "";
  dialog.showModal();
  return new Promise(resolve => dialog.addEventListener("close", () => resolve(dialog.returnValue === "yes"), { once: true }));
}

async function order(name, action, profile) {
  const what = action === "connect" ? `connect with profile ${profile}` : { logoff: "log off", restart: "restart", shutdown: "shut down" }[action];
  if (!await confirmed(`${name === "*" ? "All panels" : name}: ${what}?`)) return;
  const query = action === "connect" ? `?profile=${profile}` : "";
  const response = await fetch(`/api/panels/${encodeURIComponent(name)}/${action}${query}`, { method: "POST", headers: headers() });
  const result = await response.json();
  if (!response.ok && result.error) return say(`${response.status}: ${result.error}`);
  const refused = Object.entries(result.refused || {}).map(([panel, why]) => `${panel} (${why})`);
  say(`${what}: sent to ${result.sent.join(", ") || "no panel"}` + (refused.length ? `; not to ${refused.join(", ")}` : ""));
}

function orders(name, profiles) {
  const cell = element("td", undefined, { class: "orders" });
  const choice = element("select", undefined, { "aria-label": "profile" });
  profiles.forEach((profile, index) => choice.append(element("option", profile, { value: index + 1 })));
  cell.append(choice);
  const connect = element("button", "Connect", { "data-order": "connect" });
  connect.disabled = profiles.length === 0;
  connect.addEventListener("click", () => order(name, "connect", choice.value));
  cell.append(connect);
  for (const [action, caption] of [["logoff", "Log off"], ["restart", "Restart"], ["shutdown", "Shut down"]]) {
    const button = element("button", caption, { "data-order": action });
    button.addEventListener("click", () => order(name, action));
    cell.append(button);
  }
  return cell;
}

// Rows are changed in place, so that a click or a choice of profile in them is never lost.
function show(panel) {
  const old = panels.get(panel.name);
  panels.set(panel.name, panel);
  const tbody = document.querySelector("#panels tbody");
  let tr = [...tbody.rows].find(row => row.dataset.name === panel.name);
  if (!tr) {
    tr = element("tr", undefined, { "data-name": panel.name });
    for (let i = 0; i < 8; ++i) tr.append(element("td"));
    tr.append(element("td"));
    const after = [...tbody.rows].find(row => row.dataset.name.localeCompare(panel.name, undefined, { sensitivity: "base" }) > 0);
    tbody.insertBefore(tr, after || null);
  }
  tr.className = panel.link;
  const seen = panel.last_seen ? new Date(panel.last_seen).toLocaleTimeString() : "never";
  const rtt = panel.rtt_ms === null ? "" : `${panel.rtt_ms.toFixed(1)} ms`;
  [panel.name, panel.address, panel.version, panel.link, sessions[panel.session] ?? "", panel.profile ?? "", seen, rtt]
    .forEach((text, i) => { if (tr.cells[i].textContent !== text) tr.cells[i].textContent = text; });
  if (!old || old.profiles.join("\n") !== panel.profiles.join("\n")) {
    tr.cells[8].replaceWith(orders(panel.name, panel.profiles));
    showAll();
  }
}

function showAll() {
  const most = Math.max(0, ...[...panels.values()].map(panel => panel.profiles.length));
  const cell = orders("*", Array.from({ length: most }, (_, index) => `profile ${index + 1}`));
  document.querySelector("#all .orders").replaceWith(cell);
}

function showServer(server) {
  const line = document.getElementById("server");
  line.textContent = `${server.mode} mode: ` + (server.holder ? `${server.locked ? "locked by" : "in use by"} ${server.holder}` : "free");
  line.className = server.locked ? "locked" : "";
}

let events = null;

async function start() {
  if (events) events.close();
  const read = async path => {
    const response = await fetch(path, { headers: headers() });
    if (!response.ok) throw new Error((await response.json()).error);
    return response.json();
  };
  try {
    const [server, list] = [await read("/api/server"), await read("/api/panels")];
    showServer(server);
    const names = new Set(list.map(panel => panel.name));
    for (const tr of [...document.querySelector("#panels tbody").rows])
      if (!names.has(tr.dataset.name)) { tr.remove(); panels.delete(tr.dataset.name); }
    list.forEach(show);
  } catch (error) {
    return say(error.message);
  }
  events = new EventSource("/api/events" + (tokenField.value ? "?token=" + encodeURIComponent(tokenField.value) : ""));
  events.addEventListener("panel", event => show(JSON.parse(event.data)));
  events.addEventListener("server", event => showServer(JSON.parse(event.data)));
}

start();
