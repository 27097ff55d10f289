// The page's benchmarks (bench/web_bench.sh sets the stage): a paced program write through
// Chromium's serial stack against the wire's limit, in front and behind another tab, beside
// morva-cli's on the same simulator; then the page's costs: first-visit bytes, time to an
// interactive window, CPU while idle.
import fs from "node:fs";
import path from "node:path";
import puppeteer from "puppeteer-core";
import { Session } from "./session.mjs";

const url = process.env.MORVA_URL;
const work = process.env.MORVA_WORK;
const cliSeconds = Number(process.env.MORVA_CLI_SECONDS);
const program = path.join(work, "program.upg");
// A program write: the WakeUp and the identification, then for each of the 512 blocks its
// command, the ACK, the data frame and the ACK; ten bits a byte at 38400 baud.
const wireSeconds = ((1 + 6) + 512 * (4 + 1 + 257 + 1)) * 10 / 38400;

const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: true,
                                         args: ["--no-sandbox", "--disable-gpu"], protocolTimeout: 120000 });

async function pagedWrite(s, behindAnotherTab) {
  await s.mouseCommand("Program", "Write to Vk350");
  await s.chooseSource(program);
  let front = null;
  if (behindAnotherTab) {
    front = await browser.newPage();
    await front.goto("about:blank");
    await front.bringToFront();
  }
  await s.page.waitForFunction(() => window.morvaPage.sessions.length && window.morvaPage.sessions.at(-1).end !== undefined,
                               { timeout: 120000, polling: 200 });
  const hidden = await s.page.evaluate(() => document.visibilityState);
  const t = await s.page.evaluate(() => window.morvaPage.sessions.at(-1));
  if (front) {
    await front.close();
    await s.page.bringToFront();
  }
  const box = await s.box();
  if (box) throw new Error(`the write failed: ${JSON.stringify(box)}`);
  return { seconds: (t.end - t.start) / 1000, visibility: hidden };
}

const s = await Session.open(browser, url, work);
const fg = await pagedWrite(s, false);
const bg = await pagedWrite(s, true);
const cli = { seconds: cliSeconds };
const line = (name, r) => `${name.padEnd(34)} ${r.seconds.toFixed(2).padStart(7)} s  ${(r.seconds / wireSeconds).toFixed(4)} of the wire` +
  (r.visibility ? `  (tab ${r.visibility})` : "");
console.log(`paced program write, wire limit ${wireSeconds.toFixed(2)} s`);
console.log(line("morva-cli", cli));
console.log(line("page, its tab in front", fg));
console.log(line("page, another tab in front", bg));
console.log(`page / morva-cli: front ${(fg.seconds / cli.seconds).toFixed(4)}, behind ${(bg.seconds / cli.seconds).toFixed(4)}`);
await s.close();

// A first visit: a fresh profile, every response's bytes as they crossed the network.
const context = await browser.createBrowserContext();
const first = await context.newPage();
const cdp = await first.createCDPSession();
await cdp.send("Network.enable");
const sizes = new Map();
cdp.on("Network.responseReceived", (e) => sizes.set(e.requestId, { url: e.response.url, bytes: 0 }));
cdp.on("Network.loadingFinished", (e) => { if (sizes.has(e.requestId)) sizes.get(e.requestId).bytes = e.encodedDataLength; });
await cdp.send("Performance.enable");
await first.goto(url, { waitUntil: "load" });
await first.waitForSelector("body[data-ready='1']", { timeout: 60000 });
const ready = await first.evaluate(() => window.morvaPage.readyAt);
await first.evaluate(() => navigator.serviceWorker.ready);
await new Promise((r) => setTimeout(r, 1000));
let total = 0;
for (const { url: u, bytes } of sizes.values()) {
  total += bytes;
  console.log(`  ${path.basename(new URL(u).pathname) || "/"}`.padEnd(28) + `${bytes}`.padStart(9) + " B");
}
console.log(`first visit: ${total} bytes over the network (gzip), ${(total / 1048576).toFixed(3)} MiB`);
console.log(`time to an interactive window: ${ready.toFixed(0)} ms from the start of the navigation`);

// Idle: no session, no box; what the page's main thread spends in 10 s.
const metric = async (name) => (await cdp.send("Performance.getMetrics")).metrics.find((m) => m.name === name).value;
const task0 = await metric("TaskDuration");
const script0 = await metric("ScriptDuration");
await new Promise((r) => setTimeout(r, 10000));
const task = (await metric("TaskDuration")) - task0;
const script = (await metric("ScriptDuration")) - script0;
console.log(`idle for 10 s: ${(task * 1000).toFixed(1)} ms of tasks (${(task / 10 * 100).toFixed(3)} % of a core), ${(script * 1000).toFixed(1)} ms of script`);
await browser.close();
