// The page's serial ports over Web Serial: the granted ports by names a person can tell apart,
// and the one open line, read by one long-lived reader that stamps every chunk with the moment
// it arrived. The engine (platform/web/browser_line.cpp) judges its time-outs from those
// stamps, so a slow or hidden page neither invents a time-out nor misses one.

const hex = (n) => n.toString(16).toUpperCase().padStart(4, "0");

// "NUMBER CAUSE TEXT", as the engine reads a browser error: the POSIX numbers of the same
// conditions, and the cause the messages explain.
export function describe(error, opening = false) {
  const text = `${error.name || "Error"}: ${error.message || error}`;
  switch (error.name) {
    case "NetworkError":
      return opening ? `16 busy ${text}` : `5 gone ${text}`;
    case "InvalidStateError":
      return `16 busy ${text}`;
    case "NotFoundError":
      return `2 missing ${text}`;
    case "SecurityError":
    case "NotAllowedError":
      return `13 denied ${text}`;
    default:
      return `5 other ${text}`;
  }
}

// The names of ports by what getInfo() says of them, in the order given: "USB 0403:6001" for a
// USB adapter, "Serial port" for any other; alike names numbered from the second on ("Serial
// port #2").
export function portNames(infos) {
  const seen = new Map();
  return infos.map((info) => {
    const base = info.usbVendorId !== undefined
      ? `USB ${hex(info.usbVendorId)}:${hex(info.usbProductId ?? 0)}` : "Serial port";
    const n = (seen.get(base) || 0) + 1;
    seen.set(base, n);
    return n > 1 ? `${base} #${n}` : base;
  });
}

// Errors after which the port goes on delivering (a new stream takes the place of the old).
const nonFatal = new Set(["BreakError", "FramingError", "ParityError", "BufferOverrunError"]);

// What wakes a waiting engine: bytes arrived, a write was taken, the port went away. `seen`
// is where the engine last looked, so that news that came meanwhile is not waited for again.
export class News {
  constructor() {
    this.seq = 0;
    this.seen = 0;
    this.waiters = [];
  }
  ring() {
    this.seq++;
    const waiters = this.waiters;
    this.waiters = [];
    for (const wake of waiters) wake();
  }
  looked() {
    this.seen = this.seq;
  }
  // Until news comes or the browser's clock reaches `until` (milliseconds, performance.now()).
  wait(until) {
    if (this.seq !== this.seen) return Promise.resolve();
    return new Promise((resolve) => {
      let timer = null;
      const wake = () => {
        if (timer !== null) clearTimeout(timer);
        resolve();
      };
      this.waiters.push(wake);
      // Rounded up: a timer that fires before the deadline only makes the engine wait again.
      if (Number.isFinite(until)) timer = setTimeout(wake, Math.max(0, Math.ceil(until - performance.now())));
    });
  }
}

// Takes the page-wide lock `name` if no tab holds it: its release, or null.
function exclusive(name) {
  if (!navigator.locks) return Promise.resolve(() => {});
  return new Promise((resolve) => {
    navigator.locks.request(name, { ifAvailable: true }, (lock) => {
      if (!lock) {
        resolve(null);
        return undefined;
      }
      return new Promise((release) => resolve(release));
    });
  });
}

class Line {
  constructor(port, news) {
    this.port = port;
    this.news = news;
    this.chunks = [];
    this.writes = 0;
    this.lost = null;
    this.closing = false;
    this.reader = null;
  }

  async open() {
    await this.port.open({ baudRate: 38400, dataBits: 8, parity: "none", stopBits: 1,
                           flowControl: "none", bufferSize: 4096 });
    this.writer = this.port.writable.getWriter();
    this.reading = this.readLoop();
  }

  async readLoop() {
    while (this.port.readable && !this.closing && !this.lost) {
      this.reader = this.port.readable.getReader();
      try {
        for (;;) {
          const { value, done } = await this.reader.read();
          if (done) break;
          if (value && value.length) {
            this.chunks.push({ bytes: value, at: performance.now() });
            this.news.ring();
          }
        }
      } catch (error) {
        if (!this.closing && !nonFatal.has(error.name)) this.fail(error);
      } finally {
        try { this.reader.releaseLock(); } catch { /* already released */ }
        this.reader = null;
      }
    }
    if (!this.closing && !this.lost)
      this.fail(new DOMException("The port stopped delivering data.", "NetworkError"));
  }

  fail(error) {
    this.lost = this.lost || error;
    this.news.ring();
  }

  write(bytes) {
    if (this.lost || this.closing) return;
    this.writes++;
    this.writer.write(bytes).then(
      () => { this.writes--; this.news.ring(); },
      (error) => { this.writes--; if (!this.closing) this.fail(error); });
  }

  // The reader is cancelled and the writer let go before the port is closed: the browser
  // refuses to close a port whose streams are still locked.
  async close() {
    this.closing = true;
    try { if (this.reader) await this.reader.cancel(); } catch { /* gone already */ }
    await this.reading;
    try {
      if (this.writes > 0) await this.writer.abort();
      else this.writer.releaseLock();
    } catch { /* gone already */ }
    try { await this.port.close(); } catch { /* a lost port is closed already */ }
  }
}

export class SerialPorts {
  constructor(news) {
    this.news = news;
    this.available = "serial" in navigator;
    this.ports = [];
    this.line = null;
    if (this.available) {
      navigator.serial.addEventListener("disconnect", (event) => {
        if (this.line && event.target === this.line.port)
          this.line.fail(new DOMException("The device has been lost.", "NetworkError"));
      });
    }
  }

  // The granted ports, named by their USB ids where they have them ("USB 0403:6001"), else
  // "Serial port"; alike names numbered from the second on ("Serial port #2"). The browser
  // lists them in the order they were granted, so a newly granted port leaves the names of
  // the others as they were.
  async refresh() {
    const granted = this.available ? await navigator.serial.getPorts() : [];
    const names = portNames(granted.map((port) => port.getInfo()));
    this.ports = granted.map((port, i) => ({ name: names[i], port }));
  }

  names() {
    return this.ports.map((p) => p.name);
  }

  // "" once open, else the refusal as describe() puts it. A port is this tab's alone while it
  // is open: another tab of the page is refused, as another copy of the desktop program is by
  // the port's lock. (Other programs are kept out by the browser and the OS.)
  async open(name) {
    const entry = this.ports.find((p) => p.name === name);
    if (!entry) return "2 missing NotFoundError: the port is no longer granted to this page";
    const release = await exclusive(`morva-port ${name}`);
    if (!release) return "16 busy the port is open in another tab of this page";
    const line = new Line(entry.port, this.news);
    try {
      await line.open();
    } catch (error) {
      release();
      return describe(error, true);
    }
    line.release = release;
    this.line = line;
    return "";
  }

  async close() {
    const line = this.line;
    this.line = null;
    if (!line) return;
    await line.close();
    line.release();
  }

  write(bytes) {
    if (this.line) this.line.write(bytes);
  }
  writing() {
    this.news.looked();
    return this.line !== null && this.line.writes > 0;
  }
  chunkSize() {
    this.news.looked();
    return this.line && this.line.chunks.length ? this.line.chunks[0].bytes.length : 0;
  }
  takeChunk() {
    return this.line.chunks.shift();
  }
  discard() {
    if (this.line) this.line.chunks = [];
  }
  failure() {
    this.news.looked();
    return this.line && this.line.lost ? describe(this.line.lost) : "";
  }
}
