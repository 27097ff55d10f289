// The page in headless Chromium, as a person works it: menus by keyboard and mouse, the
// in-page boxes and choosers, the browser's own file chooser and downloads; the devices are
// vk350-sim behind Chromium's real serial stack (tools/web-test.sh set them up). Each case
// prints PASS or FAIL; the run ends with "N passed, N failed".
import { createHash } from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import puppeteer from "puppeteer-core";
import { allowDownloads, Session } from "./session.mjs";

const url = process.env.MORVA_URL;
const work = process.env.MORVA_WORK;
const files = path.join(work, "files");
const downloads = path.join(work, "downloads");
const block = 256;

const random = (n) => {
  const bytes = Buffer.alloc(n);
  for (let i = 0; i < n; ++i) bytes[i] = (i * 7919 + (i >> 8) * 104729 + 13) & 0xff;
  return bytes;
};
const file = (name, bytes) => {
  const p = path.join(files, name);
  fs.writeFileSync(p, bytes);
  return p;
};
const same = (a, b) => createHash("sha256").update(a).digest("hex") === createHash("sha256").update(b).digest("hex");
const expect = (ok, what) => {
  if (!ok) throw new Error(what);
};
const expectEqual = (got, want, what) => expect(JSON.stringify(got) === JSON.stringify(want),
  `${what}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);

// Port menu positions (sorted names): the four simulators, then the page's own device.
const ports = { a: 1, b: 2, c: 3, d: 4, simulated: 5 };
const programBytes = random(32 * block);
const program = file("program.upg", programBytes);

const browser = await puppeteer.launch({
  protocolTimeout: 30000,
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu"],
});

await allowDownloads(browser, downloads);

let passed = 0;
let failed = 0;
const only = process.env.MORVA_WEB_CASES ? new RegExp(process.env.MORVA_WEB_CASES) : null;
async function run(name, body) {
  if (only && !only.test(name)) return;
  const started = Date.now();
  try {
    await body();
    passed++;
    console.log(`PASS ${name} (${Date.now() - started} ms)`);
  } catch (error) {
    failed++;
    if (page) await page.page.screenshot({ path: path.join(work, `fail-${failed}.png`) }).catch(() => {});
    console.log(`FAIL ${name}\n     ${String(error.stack || error).split("\n").filter((l) => !l.includes("node_modules")).slice(0, 5).join("\n     ")}`);
  }
}

let page = null;
async function fresh() {
  if (page) await page.close();
  page = await Session.open(browser, url, downloads);
  return page;
}


const memory = () => fs.readFileSync(path.join(work, "a.initial"));
const programRange = 512 * block;
const wait = (ms) => new Promise((r) => setTimeout(r, ms));
const noBox = async (s, what) => expectEqual(await s.box(), null, what);

// A session under way shows its lines, in the engine's texts and in the canvas' pixels; once it
// has ended they are gone from both.
async function expectLinesWhileRunning(s, sessionLine) {
  await s.page.waitForFunction((line) => window.morvaPage.lines().some((l) => l.endsWith(line)),
                               { timeout: 20000, polling: 50 }, sessionLine);
  await s.page.waitForFunction(() => window.morvaPage.lines().some((l) => / Block \d+ z \d+$/.test(l)), { timeout: 20000, polling: 50 });
  expect((await s.ink()) > 100, "the session's lines are not on the canvas");
}
async function expectLinesGone(s) {
  await s.idle();
  await s.page.waitForFunction(() => !window.morvaPage.painting(), { timeout: 20000, polling: 20 });
  expectEqual((await s.lines()).filter((l) => !l.startsWith("Firmware")), [], "lines after the end");
  expectEqual(await s.ink(), 0, "dark pixels left in the session's band");
}

await run("the page lists the granted ports by their ids and the simulated device, and finds the device", async () => {
  const s = await fresh();
  expectEqual(await s.portMenu(), ["&Auto", "USB 0403:6001", "USB 0403:6010", "USB 067B:2303", "USB 10C4:EA60",
    "Vk350 (simulated)", "", "A&dd a port…"], "Port menu");
  expectEqual(await s.ticked(), ["USB 0403:6001"], "ticked");
  expectEqual(await s.lines(), ["Firmware version : N/A | N/A"], "lines");
  expect(await s.page.$eval("#simulated", (e) => e.hidden), "a real device is not marked simulated");
  // Help > About by the keys alone.
  await s.page.keyboard.down("Alt");
  await s.page.keyboard.press("h");
  await s.page.keyboard.up("Alt");
  await s.page.keyboard.press("ArrowDown");
  await s.page.keyboard.press("Enter");
  const about = await s.waitForBox();
  expectEqual([about.caption, about.text.split("\n")[0]], ["About", "Vk350 Morva communication program"], "About");
  await s.page.keyboard.press("Enter");
  await s.idle();
  // On a high-density screen the canvas has a pixel for each of the screen's (the emulated
  // screen announces no change: a character typed repaints the window).
  await s.page.setViewport({ width: 800, height: 560, deviceScaleFactor: 2 });
  await s.page.keyboard.press("x");
  await s.page.waitForFunction(() => document.getElementById("canvas").width === 2 * document.getElementById("canvas").clientWidth,
                               { timeout: 20000, polling: 50 });
  await s.page.setViewport({ width: 800, height: 560, deviceScaleFactor: 1 });
  await s.page.keyboard.press("x");
  await s.page.waitForFunction(() => document.getElementById("canvas").width === document.getElementById("canvas").clientWidth,
                               { timeout: 20000, polling: 50 });
});

await run("program written by mouse, read back by keys and verified: the file is the device's memory", async () => {
  const s = page || (await fresh());
  await s.mouseCommand("Program", "Write to Vk350");
  await s.chooseSource(program);
  await expectLinesWhileRunning(s, "Write to Vk350 : program");
  await expectLinesGone(s);
  await noBox(s, "after the write");
  expectEqual(await s.lines(), ["Firmware version : 2.05 | 1.10"], "the device's versions");
  await s.keyCommand(0, 1);
  await s.nameTarget("back.upg");
  await expectLinesWhileRunning(s, "Read from Vk350 : program");
  await expectLinesGone(s);
  await noBox(s, "after the read");
  // The file ends on a block's boundary: the block that met its end goes out zero-filled, as
  // the session's last (the desktop does the same).
  const zeros = Buffer.alloc(block);
  const want = Buffer.concat([programBytes, zeros, memory().subarray(programBytes.length + block, programRange)]);
  expect(same(await s.downloaded("back.upg"), want), "back.upg is not the device's program memory");
  await s.mouseCommand("Program", "Veryfication");
  await s.chooseSource(program);
  await expectLinesGone(s);
  await noBox(s, "after the verification");
});

await run("Repeat: grayed until a command, then the last file without the chooser; into another kind only past the extension rule", async () => {
  const s = await fresh();
  await s.clickBar("Action");
  expect(await s.page.$eval(".menu[data-menu='1'] > .item", (r) => r.classList.contains("grayed")), "Repeat enabled at start");
  await s.page.keyboard.press("Escape");
  await s.mouseCommand("Program", "Write to Vk350");
  await s.press("Cancel");  // the chooser cancelled: Repeat has something to repeat all the same
  await s.idle();
  await s.mouseCommand("Program", "Write to Vk350");
  await s.chooseSource(program);
  await expectLinesGone(s);
  await s.clickBar("Action");
  await s.clickItem(1, "Repeat");
  await expectLinesWhileRunning(s, "Write to Vk350 : program");
  await expectLinesGone(s);
  await noBox(s, "after the repeat");
  // A program image repeated over the libraries' blocks is refused, as a chosen one would be.
  await s.clickBar("Action");
  await s.clickItem(1, "Scanner libraries", true);
  await s.clickItem(1, "Repeat");
  expectEqual((await s.waitForBox()).text, "Don't change file extension !", "repeat into the libraries");
  await s.press("OK");
  await s.idle();
});

await run("Esc and Stop end a read where it stands and keep its whole blocks", async () => {
  const s = page || (await fresh());
  for (const how of ["Escape", "Stop"]) {
    await s.mouseCommand("User data", "Read from Vk350");
    await s.nameTarget(`stopped-${how}.usr`);
    await s.page.waitForFunction(() => window.morvaPage.lines().some((l) => / Block (1\d|[2-9]\d+) z 3200$/.test(l)), { timeout: 20000, polling: 50 });
    if (how === "Escape") {
      await s.page.keyboard.press("Escape");
    } else {
      await s.clickBar("Action");
      await s.clickItem(1, "Stop");
    }
    await expectLinesGone(s);
    await noBox(s, `after ${how}`);
    const kept = await s.downloaded(`stopped-${how}.usr`);
    expect(kept.length > 0 && kept.length % block === 0, `${how}: ${kept.length} bytes kept`);
    expect(same(kept, memory().subarray(896 * block, 896 * block + kept.length)), `${how}: the blocks kept differ`);
  }
});

await run("a NAK from the device gives the exact failure box", async () => {
  const s = page || (await fresh());
  await s.choosePort(ports.b);
  await s.mouseCommand("Program", "Write to Vk350");
  await s.chooseSource(program);
  expectEqual(await s.waitForBox(), { caption: "Fail", text: "Acknowledgment error : got NAK", detail: "", buttons: ["OK"] }, "box");
  await s.press("OK");
  await expectLinesGone(s);
});

await run("the wrong port ticked, a silent device: \"Initialization error : no data : 0\"", async () => {
  const s = page || (await fresh());
  await s.choosePort(ports.c);
  expectEqual(await s.ticked(), ["USB 067B:2303"], "ticked");
  await s.keyCommand(0, 0);
  await s.chooseSource(program);
  expectEqual((await s.waitForBox()).text, "Initialization error : no data : 0", "box");
  await s.press("OK");
  await expectLinesGone(s);
});

await run("a port that another tab holds cannot be opened, and opens once that tab lets it go", async () => {
  const s = page || (await fresh());
  await s.choosePort(ports.a);
  await s.idle();
  const other = await Session.open(browser, url, downloads);
  await other.page.bringToFront();
  expectEqual(await other.ticked(), ["USB 0403:6010"], "the other tab's search passed over the held port");
  await other.choosePort(ports.a);
  const box = await other.waitForBox();
  expectEqual([box.caption, box.text, box.detail],
              ["Warning", "Port open error !", "USB 0403:6001: the port is open in another tab of this page"], "box");
  await other.press("OK");
  await other.idle();
  await s.page.bringToFront();
  await s.choosePort(ports.c);  // the first tab lets the port go
  await s.idle();
  await other.page.bringToFront();
  await other.choosePort(ports.a);
  await other.idle();
  await noBox(other, "once the port was free");
  expectEqual(await other.ticked(), ["USB 0403:6001"], "ticked in the other tab");
  await other.close();
  await s.page.bringToFront();
  await s.choosePort(ports.a);
  await s.idle();
  await noBox(s, "after the other tab closed");
  expectEqual(await s.ticked(), ["USB 0403:6001"], "ticked");
});

await run("the device gone in the middle of a read: one failure box, the whole blocks kept; then the port cannot open", async () => {
  const s = page || (await fresh());
  await s.choosePort(ports.d);
  await s.mouseCommand("Program", "Read from Vk350");
  await s.nameTarget("cut.upg");
  expectEqual(await s.waitForBox(), { caption: "Fail", text: "Error code : 5", detail: "", buttons: ["OK"] }, "box");
  await s.press("OK");
  await expectLinesGone(s);
  await noBox(s, "a second box");
  const kept = await s.downloaded("cut.upg");
  expectEqual(kept.length, 20 * block, "bytes kept");
  await s.choosePort(ports.d);
  const box = await s.waitForBox();
  expectEqual(box.text, "Port open error !", "box before a session on the unplugged port");
  await s.press("OK");
});

await run("hostile files: the wrong extension, an empty file, one larger than the kind, a refused picker", async () => {
  const s = await fresh();
  const wrong = file("program.bin", random(4 * block));
  const empty = file("empty.upg", Buffer.alloc(0));
  const big = file("big.upg", random(600 * block));
  await s.choosePort(ports.simulated);
  await s.idle();
  expect(!(await s.page.$eval("#simulated", (e) => e.hidden)), "the simulated device is not marked");

  await s.mouseCommand("Program", "Write to Vk350");
  await s.chooseSource(wrong);
  expectEqual(await s.waitForBox(), { caption: "Warning", text: "Don't change file extension !", detail: "", buttons: ["OK"] }, "wrong extension");
  await s.press("OK");
  await s.idle();

  await s.mouseCommand("Program", "Write to Vk350");
  await s.chooseSource(empty);
  expect((await s.box()).caption === "Choose file with data :", "the chooser closed on an empty file");
  expectEqual(await s.page.$eval("#box .note", (n) => n.textContent), "empty.upg is empty: there is nothing to send.", "empty");
  await s.press("OK");  // not taken
  expect((await s.box()).caption === "Choose file with data :", "OK took the empty file");
  await s.chooseSource(big);
  expect((await s.page.$eval("#box .note", (n) => n.textContent)).includes("only its first 131072 bytes (512 blocks) are sent"), "big");
  await s.press("OK");
  await expectLinesGone(s);
  await noBox(s, "after the long file");

  await s.mouseCommand("Program", "Read from Vk350");
  await s.page.waitForSelector("#box[open]");
  await s.page.evaluate(() => {
    window.showSaveFilePicker = () => Promise.reject(new DOMException("Must be handling a user gesture to show a file picker.", "SecurityError"));
  });
  await s.press("Save as…");
  await s.page.waitForFunction(() => document.querySelector("#box .note")?.textContent.startsWith("The browser refused: SecurityError"));
  await s.press("Cancel");
  await s.idle();
  await noBox(s, "after the refused picker");
  await s.keyCommand(0, 2);
  const [chooser] = await Promise.all([s.page.waitForFileChooser(), s.page.click("#box .buttons button:first-child")]);
  await chooser.cancel();
  await s.press("Cancel");
  await s.idle();
  await noBox(s, "after the cancelled chooser");
});

await run("the simulated device: write, verify and read, the read saved through the File System Access API", async () => {
  const s = await Session.open(browser, url, downloads, { before: (p) => p.evaluateOnNewDocument(() => {
    window.savedFiles = {};
    window.showSaveFilePicker = async ({ suggestedName }) => ({
      name: suggestedName,
      createWritable: async () => {
        const parts = [];
        return { write: async (b) => { parts.push(Array.from(b)); },
                 close: async () => { window.savedFiles[suggestedName] = parts.flat(); } };
      },
    });
  }) });
  if (page) await page.close();
  page = s;
  await s.choosePort(ports.simulated);
  await s.idle();
  await s.mouseCommand("Program", "Write to Vk350");
  await s.chooseSource(program);
  await expectLinesGone(s);
  await s.mouseCommand("Program", "Veryfication");
  await s.chooseSource(program);
  await expectLinesGone(s);
  await noBox(s, "after write and verification");
  await s.mouseCommand("Program", "Read from Vk350");
  await s.page.waitForSelector("#box[open]");
  await s.typeName("sim.upg");
  await s.press("Save as…");
  await expectLinesGone(s);
  const saved = Buffer.from(await s.page.evaluate(() => window.savedFiles["sim.upg"]));
  const want = Buffer.concat([programBytes, Buffer.alloc(block), Buffer.alloc(programRange - programBytes.length - block, 0xff)]);
  expect(same(saved, want), `the saved read (${saved.length} bytes) is not the simulated memory`);
});

await run("Exit ends the session, lets the port go and says that the program has ended", async () => {
  const s = await fresh();  // it holds the good device's port
  await s.clickBar("Action");
  await s.clickItem(1, "Exit");
  await s.page.waitForSelector("#ended:not([hidden])", { timeout: 20000 });
  expect(await s.page.$eval("#window", (w) => w.hidden), "the window is still shown");
  const other = await Session.open(browser, url, downloads);
  expectEqual(await other.ticked(), ["USB 0403:6001"], "the port after the exit");
  await other.close();
  await s.page.bringToFront();
  await Promise.all([s.page.waitForNavigation({ waitUntil: "load" }), s.page.click("#restart")]);
  await s.page.waitForSelector("body[data-ready='1']", { timeout: 20000 });
  await s.idle();
  expectEqual(await s.ticked(), ["USB 0403:6001"], "after starting again");
});

await run("reloaded with the server stopped, the page still starts (service worker)", async () => {
  const s = page || (await fresh());
  await s.page.evaluate(() => navigator.serviceWorker.ready);
  await s.page.waitForFunction(() => navigator.serviceWorker.controller !== null || true);
  process.kill(Number(process.env.MORVA_SERVER_PID), "SIGTERM");
  await wait(200);
  await s.page.reload({ waitUntil: "load" });
  await s.page.waitForSelector("body[data-ready='1']", { timeout: 20000, polling: 50 });
  await s.idle();
  expectEqual(await s.lines(), ["Firmware version : N/A | N/A"], "lines after the offline start");
  expectEqual(s.errors.filter((e) => !e.includes("favicon")), [], "page errors");
});

console.log(`web: ${passed} passed, ${failed} failed`);
await browser.close();
process.exit(failed ? 1 : 0);
