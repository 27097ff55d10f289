// The page: the engine (morva.wasm) with the browser's ports, files and window around it, and
// the one pump that drives a session's steps. Steps run only while a session runs; between
// two, the pump waits on the port's news (a serial read or write resolving, which a hidden tab
// does not slow down) or on the session's next time-out, so the page is idle when nothing is
// to be done and a transfer keeps the wire's pace in a background tab.
import { Files } from "./files.js";
import { describe, News, SerialPorts } from "./serial.js";
import { Dialogs, Menus, Painter } from "./ui.js";

const background = "rgb(241, 245, 247)";
const news = new News();
const serial = new SerialPorts(news);
const files = new Files();
const dialogs = new Dialogs(document.getElementById("box"));
const canvas = document.getElementById("canvas");
const client = document.getElementById("client");
const menubar = document.getElementById("menubar");
const picture = new Image();
const painter = new Painter(canvas, picture);
let engine = null;
let ended = false;
let shown = false;  // the engine has shown its window: there is something to paint

// Every call into the engine runs after the one before has ended: a call that waits for the
// person (a box) or for the port is suspended, and no other may enter meanwhile.
let chain = Promise.resolve();
let calls = 0;  // entered or waiting to
function call(name, ...args) {
  const run = () => engine.ccall(name, "number", args.map(() => "number"), args, { async: true });
  ++calls;
  const result = chain.then(run).finally(() => --calls);
  chain = result.catch(() => {});
  return result;
}

const menus = new Menus(menubar, {
  select: (menu, position) => engine._morva_menu_select(menu, position),
  command: (number) => act(() => call("morva_command", number)),
  addPort,
});

// --- the pump ---------------------------------------------------------------------------
let pumping = false;

// A task of the event loop that a hidden tab does not throttle (timers there run once a
// second at best): input and paints get their turn between steps.
function nextTask() {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(0);
  });
}

async function pump() {
  if (pumping || ended) return;
  pumping = true;
  try {
    for (let ran = 0; !ended; ++ran) {
      const result = await call("morva_step");
      if (result === 0) break;
      if (result === 2) {
        const until = await call("morva_wait_until");
        if (until < 0 || until > performance.now()) await news.wait(until < 0 ? Infinity : until);
        await call("morva_port_ready");
      } else if (ran % 8 === 7) {
        await nextTask();
      }
      showSimulated();
      noteSession();
    }
  } finally {
    pumping = false;
  }
}

// A command or key: the engine's answer, then whatever the session now needs.
async function act(entry) {
  if (ended) return;
  await entry();
  noteSession();
  news.ring();  // a pump waiting on the old session looks again
  showSimulated();
  if (engine._morva_ended()) return end();
  pump();
}

async function end() {
  ended = true;
  await call("morva_shutdown");
  menus.closeAll();
  document.getElementById("window").hidden = true;
  document.getElementById("ended").hidden = false;
}

async function addPort() {
  if (!serial.available) {
    await dialogs.message({ caption: "Warning", icon: "warning", yesNo: false, detail: "",
                            text: "This browser cannot reach serial ports: use Chrome, Edge, Opera or Firefox 151 or later." });
    return;
  }
  let granted = null;
  try {
    granted = await navigator.serial.requestPort();  // a click of the person's opened it
  } catch {
    return;  // no port chosen: nothing changes
  }
  if (granted) await portsChanged();
}

async function portsChanged() {
  await serial.refresh();
  await call("morva_ports_changed");
}

const simulatedMark = document.getElementById("simulated");
function showSimulated() {
  const hidden = !engine._morva_simulated_in_use();
  if (simulatedMark.hidden !== hidden) simulatedMark.hidden = hidden;
}

// --- painting ----------------------------------------------------------------------------
let dirty = null;
let paintQueued = false;
let lastPaint = -Infinity;

function invalidate(left, top, right, bottom, erase) {
  const r = { left, top, right, bottom, erase };
  dirty = dirty ? { left: Math.min(dirty.left, left), top: Math.min(dirty.top, top),
                    right: Math.max(dirty.right, right), bottom: Math.max(dirty.bottom, bottom),
                    erase: dirty.erase || erase } : r;
  if (!paintQueued) {
    paintQueued = true;
    // A transfer changes the status line with every step, hundreds of times a second: the
    // window shows it at most 20 times a second, leaving the machine to the wire.
    const wait = lastPaint + 50 - performance.now();
    if (wait > 0) setTimeout(() => requestAnimationFrame(paint), wait);
    else requestAnimationFrame(paint);
  }
}

function fitToScreen() {
  const ratio = window.devicePixelRatio || 1;
  const w = client.clientWidth;
  const h = client.clientHeight;
  const pw = Math.round(w * ratio);
  const ph = Math.round(h * ratio);
  if (canvas.width !== pw || canvas.height !== ph) {
    canvas.width = pw;
    canvas.height = ph;
    return true;
  }
  return false;
}

// The window is repainted where it was invalidated, always over the background colour (the
// canvas keeps nothing of a region it repaints).
function paint() {
  paintQueued = false;
  lastPaint = performance.now();
  if (!dirty || !shown) return;
  // A density that changed unannounced: the whole window, at the new one.
  const area = fitToScreen() ? { left: 0, top: 0, right: 1 << 20, bottom: 1 << 20 } : dirty;
  dirty = null;
  const ratio = window.devicePixelRatio || 1;
  const w = client.clientWidth;
  const h = client.clientHeight;
  const ctx = canvas.getContext("2d");
  ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
  ctx.save();
  ctx.beginPath();
  ctx.rect(area.left, area.top, area.right - area.left, area.bottom - area.top);
  ctx.clip();
  ctx.fillStyle = background;
  ctx.fillRect(0, 0, w, h);
  // The picture covers the window's outer size: the menu bar's height falls below the client
  // area and is clipped, as on the desktop.
  engine._morva_paint(w, h + menubar.offsetHeight, w, picture.complete && picture.naturalWidth ? 1 : 0);
  ctx.restore();
}

const whole = () => invalidate(0, 0, 1 << 20, 1 << 20, true);
new ResizeObserver(() => { fitToScreen(); whole(); }).observe(client);
// The window moved to a screen of another density: a query for the new density replaces the
// old one.
function watchDensity() {
  matchMedia(`(resolution: ${window.devicePixelRatio || 1}dppx)`).addEventListener("change", () => {
    fitToScreen();
    whole();
    watchDensity();
  }, { once: true });
}
watchDensity();
picture.onload = whole;
picture.src = "background.png";

// --- keys --------------------------------------------------------------------------------
let altAlone = false;
document.addEventListener("keydown", (event) => {
  if (ended || dialogs.open()) return;
  altAlone = event.key === "Alt";
  if (menus.key(event)) {
    event.preventDefault();
    return;
  }
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  // The window's characters: Esc stops a transfer, every character repaints.
  const code = event.key === "Escape" ? 27 : event.key === "Enter" ? 13
             : event.key.length === 1 ? event.key.charCodeAt(0) : -1;
  if (code < 0) return;
  event.preventDefault();
  act(() => call("morva_character", code));
});
document.addEventListener("keyup", (event) => {
  // Alt pressed and released alone: the menu bar, as on the desktop.
  if (event.key === "Alt" && altAlone && !dialogs.open() && !ended) {
    event.preventDefault();
    if (menus.active()) menus.closeAll();
    else menus.openBar(0, true);
  }
  altAlone = false;
});

document.getElementById("restart").addEventListener("click", () => location.reload());

// --- the host the engine's C++ calls -----------------------------------------------------
window.morvaHost = {
  text(s) {
    if (s === null || s === undefined || s === "") return 0;
    const n = engine.lengthBytesUTF8(s) + 1;
    const at = engine._malloc(n);
    engine.stringToUTF8(s, at, n);
    return at;
  },
  describe,
  news,
  serial,
  files,
  canvas: painter,
  ui: {
    message: (m) => dialogs.message(m),
    chooseFile: (request) => dialogs.chooseFile(request, files, document.getElementById("source-picker")),
    chooseFont: (font) => dialogs.chooseFont(font),
    invalidate,
    sessionEnded: () => {},
    setPortTick: (index, ticked) => menus.setTick(index, ticked),
    installMenus: (model) => menus.install(model),
    showWindow: () => {
      shown = true;
      fitToScreen();
      whole();
    },
    setRepeatEnabled: (enabled) => menus.setRepeat(enabled),
    openHelp: () => window.open("morva-manual.html", "_blank") !== null,
  },
};

// What the page's tests read: the texts the window shows now, and the session's step.
// The sessions' start and end, in the browser's milliseconds (the benchmarks read them).
const sessions = [];
function noteSession() {
  const running = engine._morva_transfer_step() !== 0;
  const last = sessions[sessions.length - 1];
  if (running && (!last || last.end !== undefined)) sessions.push({ start: performance.now() });
  if (!running && last && last.end === undefined) last.end = performance.now();
}

window.morvaPage = {
  sessions,
  readyAt: null,
  lines: () => {
    const at = engine._morva_painted_lines();
    const text = engine.UTF8ToString(at);
    engine._free(at);
    return text.split("\n").filter(Boolean);
  },
  step: () => engine._morva_transfer_step(),
  busy: () => pumping || calls > 0,
  painting: () => paintQueued || dirty !== null,
  ended: () => ended,
};

async function boot() {
  if ("serviceWorker" in navigator) navigator.serviceWorker.register("sw.js").catch(() => {});
  if (serial.available) navigator.serial.addEventListener("connect", () => act(portsChanged));
  engine = await createMorva();
  await serial.refresh();
  await act(() => call("morva_start"));
  window.morvaPage.readyAt = performance.now();
  document.body.dataset.ready = "1";
  canvas.focus();
}

boot();
