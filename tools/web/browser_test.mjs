// The page in headless Chromium, as a person works it: menus by keyboard and mouse, the
// in-page boxes and choosers, the browser's own file chooser and downloads; the devices are
// vk350-sim behind Chromium's real serial stack (tools/web-test.sh set them up). Each case
// prints PASS or FAIL; the run ends with "N passed, N failed".
import { createHash } from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import puppeteer from "puppeteer-core";
import { Session } from "./session.mjs";

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
const program = file("program.upg", random(32 * block));

const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu"],
});

let passed = 0;
let failed = 0;
async function run(name, body) {
  const started = Date.now();
  try {
    await body();
    passed++;
    console.log(`PASS ${name} (${Date.now() - started} ms)`);
  } catch (error) {
    failed++;
    console.log(`FAIL ${name}\n     ${String(error.stack || error).split("\n").slice(0, 4).join("\n     ")}`);
  }
}

let page = null;
async function fresh() {
  if (page) await page.close();
  page = await Session.open(browser, url, downloads);
  return page;
}

await run("the page lists the granted ports by their ids and the simulated device, and finds the device", async () => {
  const s = await fresh();
  expectEqual(await s.portMenu(), ["&Auto", "USB 0403:6001", "USB 0403:6010", "USB 067B:2303", "USB 10C4:EA60",
    "Vk350 (simulated)", "", "A&dd a port…"], "Port menu");
  expectEqual(await s.ticked(), ["USB 0403:6001"], "ticked");
  expectEqual(await s.lines(), ["Firmware version : N/A | N/A"], "lines");
});

console.log(`web: ${passed} passed, ${failed} failed`);
await browser.close();
process.exit(failed ? 1 : 0);
