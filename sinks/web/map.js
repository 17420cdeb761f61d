"use strict";
// The live map. gps-monitor pushes over a WebSocket each epoch's TPV object (of every vehicle),
// the SKY object of the vehicle this page follows, and that vehicle's recent track when the page
// starts following it. The page keeps the last fix of each vehicle and the followed one's track.

const kStaleSeconds = 10;
const kMostTrackPoints = 50000;
const kLabelsUpTo = 50;  // vehicles labelled on the map; more are named when pointed at
const kModes = ["unknown", "no fix", "2D fix", "3D fix"];
const kConstellations = { 0: "G", 1: "S", 2: "E", 3: "C", 4: "I", 5: "J", 6: "R", 7: "I" };

const body = document.body;
const map = L.map("map", { preferCanvas: true }).setView([20, 0], 2);
L.control.scale({ imperial: false }).addTo(map);
const trackLine = L.polyline([], { color: "#1565c0", weight: 3 }).addTo(map);
const errorCircle = L.circle([0, 0], { radius: 1, color: "#1565c0", weight: 1, fillOpacity: 0.08 });

const state = {
  receiver: null,      // the one receiver's device name; empty for a fleet
  followed: null,
  vehicles: new Map(), // device -> { tpv, marker, row, lastFix }
  segments: [[]],      // the followed vehicle's track, a segment per stretch with a fix
  trackPoints: 0,
  centred: false,
  tiles: false,
};
let socket = null;

function connect() {
  socket = new WebSocket(`ws://${location.host}/live`);
  socket.onopen = () => { body.dataset.state = "connected"; };
  socket.onclose = () => {
    body.dataset.state = "disconnected";
    setTimeout(connect, 2000);
  };
  socket.onmessage = (event) => {
    // A fleet sends many messages a frame: they are taken together, once per frame drawn.
    waiting.push(event.data);
    if (waiting.length === 1) requestAnimationFrame(takeWaiting);
  };
}

const waiting = [];
function takeWaiting() {
  for (const text of waiting.splice(0)) take(JSON.parse(text));
}

function take(message) {
  switch (message.class) {
    case "HELLO": return hello(message);
    case "TPV": return position(message, Date.now());
    case "LAST": return position(message.tpv, Date.now() - (message.age ?? 0) * 1000, message.last_fix);
    case "SKY": return message.device === state.followed && drawSky(message);
    case "TRACK": return message.device === state.followed && setTrack(message.points);
  }
}

function hello(message) {
  state.receiver = message.receiver;
  if (message.tiles && !state.tiles) {
    L.tileLayer(message.tiles, { attribution: message.attribution, maxZoom: 19 }).addTo(map);
    state.tiles = true;
  }
  const fleet = message.receiver === "";
  document.getElementById("fleet").hidden = !fleet;
  document.getElementById("title").textContent = fleet ? "gps-monitor: fleet" : message.receiver;
  if (!fleet) state.followed = message.receiver;
}

function vehicle(device) {
  let known = state.vehicles.get(device);
  if (known) return known;
  known = { tpv: null, lastFix: null, heardAt: null, marker: null, row: null };
  known.marker = L.circleMarker([0, 0], { radius: 6, color: "#0d47a1", weight: 2, fillColor: "#42a5f5", fillOpacity: 0.9 });
  known.marker.on("click", () => follow(device));
  if (state.receiver === "") {
    // A vehicle's name comes from the data (a topic): it is shown as text, never read as HTML.
    const label = document.createElement("span");
    label.textContent = device;
    known.marker.bindTooltip(label, { permanent: state.vehicles.size < kLabelsUpTo, direction: "right", className: "vehicle" });
    known.row = document.querySelector("#vehicles tbody").insertRow();
    known.row.dataset.device = device;
    known.row.insertCell().textContent = device;
    known.row.insertCell();
    known.row.insertCell();
    known.row.onclick = () => follow(device);
  }
  state.vehicles.set(device, known);
  document.getElementById("vehicle-count").textContent = state.vehicles.size;
  return known;
}

function hasFix(tpv) {
  return tpv.mode >= 2 && typeof tpv.lat === "number" && typeof tpv.lon === "number";
}

// `heardAt`: when gps-monitor had the vehicle's last fix, by this browser's clock; `lastFix`:
// that fix's time, for a state sent when the page opened.
function position(tpv, heardAt, lastFix) {
  const device = tpv.device || "";
  const known = vehicle(device);
  known.tpv = tpv;
  if (lastFix && !hasFix(tpv)) {
    known.lastFix = lastFix;
    known.heardAt = heardAt;
  }
  if (hasFix(tpv)) {
    known.lastFix = tpv.time || known.lastFix;
    known.heardAt = heardAt;
    known.marker.setLatLng([tpv.lat, tpv.lon]);
    if (!map.hasLayer(known.marker)) known.marker.addTo(map);
    if (known.row) {
      known.row.dataset.lat = tpv.lat;
      known.row.dataset.lon = tpv.lon;
      known.row.dataset.time = known.lastFix;
    }
  }
  if (known.row) known.row.cells[1].textContent = known.lastFix ? known.lastFix.substring(11, 19) : "no fix";
  if (device === state.followed) showFollowed(tpv, known);
}

function showFollowed(tpv, known) {
  const field = (name, text) => { document.querySelector(`[data-field="${name}"]`).textContent = text; };
  field("time", tpv.time || "–");
  body.dataset.time = tpv.time || "";
  field("mode", kModes[tpv.mode] || "unknown");
  field("speed", typeof tpv.speed === "number" ? `${(tpv.speed * 3.6).toFixed(1)} km/h` : "–");
  field("course", typeof tpv.track === "number" ? `${tpv.track.toFixed(1)}°` : "–");
  field("altitude", typeof tpv.altMSL === "number" ? `${tpv.altMSL.toFixed(1)} m` : "–");
  if (hasFix(tpv)) {
    field("position", `${tpv.lat.toFixed(6)}, ${tpv.lon.toFixed(6)}`);
    document.getElementById("fix-state").textContent = kModes[tpv.mode];
    body.dataset.fix = "fix";
    body.dataset.markerLat = tpv.lat;
    body.dataset.markerLon = tpv.lon;
    addTrackPoint([tpv.lat, tpv.lon]);
    const error = Math.max(tpv.epx || 0, tpv.epy || 0);
    if (error > 0) {
      errorCircle.setLatLng([tpv.lat, tpv.lon]).setRadius(error);
      if (!map.hasLayer(errorCircle)) errorCircle.addTo(map);
    } else {
      errorCircle.remove();
    }
    if (!state.centred) {
      map.setView([tpv.lat, tpv.lon], 16);
      state.centred = true;
    } else if (!map.getBounds().pad(-0.1).contains([tpv.lat, tpv.lon])) {
      map.panTo([tpv.lat, tpv.lon]);
    }
  } else {
    field("position", "–");
    const since = known.lastFix ? ` since ${known.lastFix.substring(11, 19)}` : "";
    document.getElementById("fix-state").textContent = `no fix${since}`;
    body.dataset.fix = "no fix";
    errorCircle.remove();
    breakTrack();
  }
}

function addTrackPoint(point) {
  state.segments[state.segments.length - 1].push(point);
  state.trackPoints += 1;
  if (state.trackPoints > kMostTrackPoints) {
    state.segments[0].shift();
    state.trackPoints -= 1;
    if (state.segments[0].length === 0 && state.segments.length > 1) state.segments.shift();
  }
  trackLine.setLatLngs(state.segments);
  body.dataset.trackPoints = state.trackPoints;
}

function breakTrack() {
  if (state.segments[state.segments.length - 1].length > 0) state.segments.push([]);
}

// The server's recent track: points, with null where the fix was lost.
function setTrack(points) {
  state.segments = [[]];
  state.trackPoints = 0;
  for (const point of points) {
    if (point === null) {
      breakTrack();
    } else {
      state.segments[state.segments.length - 1].push(point);
      state.trackPoints += 1;
    }
  }
  trackLine.setLatLngs(state.segments);
  body.dataset.trackPoints = state.trackPoints;
}

function follow(device) {
  if (state.receiver !== "" || device === state.followed) return;
  state.followed = device;
  state.centred = false;
  setTrack([]);
  for (const [name, known] of state.vehicles) {
    if (known.row) known.row.classList.toggle("followed", name === device);
  }
  document.getElementById("title").textContent = device;
  socket.send(JSON.stringify({ follow: device }));
  const known = state.vehicles.get(device);
  if (known && known.tpv) showFollowed(known.tpv, known);
}

function snrColour(snr) {
  if (typeof snr !== "number") return "#9e9e9e";
  if (snr >= 40) return "#2e7d32";
  if (snr >= 30) return "#9e9d24";
  if (snr >= 20) return "#ef6c00";
  return "#c62828";
}

function svg(name, attributes, parent) {
  const element = document.createElementNS("http://www.w3.org/2000/svg", name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  parent.appendChild(element);
  return element;
}

// Each satellite at its azimuth (north up, clockwise) and elevation (the rim is the horizon).
function drawSky(sky) {
  const plot = document.getElementById("sky");
  plot.replaceChildren();
  for (const elevation of [0, 30, 60]) svg("circle", { class: "ring", r: 100 * (90 - elevation) / 90 }, plot);
  svg("line", { class: "axis", x1: -100, y1: 0, x2: 100, y2: 0 }, plot);
  svg("line", { class: "axis", x1: 0, y1: -100, x2: 0, y2: 100 }, plot);
  svg("text", { x: 0, y: -106 }, plot).textContent = "N";
  let used = 0;
  for (const satellite of sky.satellites || []) {
    if (typeof satellite.az !== "number" || typeof satellite.el !== "number") continue;
    const radius = 100 * (90 - satellite.el) / 90;
    const angle = satellite.az * Math.PI / 180;
    const x = radius * Math.sin(angle);
    const y = -radius * Math.cos(angle);
    const colour = snrColour(satellite.ss);
    const mark = svg("circle", { class: "satellite", cx: x, cy: y, r: 7, stroke: colour, fill: satellite.used ? colour : "white" }, plot);
    mark.dataset.prn = satellite.PRN;
    const name = `${kConstellations[satellite.gnssid] || "?"}${satellite.svid}`;
    svg("text", { x: x, y: y + 12 }, plot).textContent = name;
    used += satellite.used ? 1 : 0;
  }
  body.dataset.skySatellites = (sky.satellites || []).length;
  document.querySelector('[data-field="used"]').textContent =
    typeof sky.uSat === "number" ? `${sky.uSat} of ${sky.nSat ?? "?"}` : `${used}`;
}

// Ages in the vehicle list (since each last had a fix), and vehicles without one for a while
// greyed.
setInterval(() => {
  const now = Date.now();
  for (const known of state.vehicles.values()) {
    if (!known.row) continue;
    const age = known.heardAt === null ? null : Math.max(0, Math.round((now - known.heardAt) / 1000));
    known.row.cells[2].textContent = age === null ? "–" : `${age} s`;
    known.row.classList.toggle("stale", age === null || age > kStaleSeconds);
  }
}, 1000);

connect();
