// One tab of the page, worked as a person would: keys, clicks on what the page shows, the
// in-page boxes and the browser's own file chooser. What the window shows is read from the
// page's state (the texts of its last paint) and from the canvas' pixels.
import fs from "node:fs";
import path from "node:path";

const guard = 20000;  // a hang guard, never a measure

// Downloads go to `folder`, for every tab: set once on the browser's own session (one set
// through a tab's session ends with that tab).
export async function allowDownloads(browser, folder) {
  const cdp = await browser.target().createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: folder });
}

export class Session {
  static async open(browser, url, downloads, { before } = {}) {
    const page = await browser.newPage();
    const s = new Session(page, downloads);
    page.on("pageerror", (e) => { s.errors.push(e.message); if (process.env.MORVA_WEB_VERBOSE) console.log("pageerror:", e.stack); });
    if (process.env.MORVA_WEB_VERBOSE) page.on("console", (m) => console.log("console:", m.text()));
    page.on("console", (m) => { if (m.type() === "error") s.errors.push(m.text()); });
    await page.setViewport({ width: 800, height: 560, deviceScaleFactor: 1 });
    if (before) await before(page);
    await page.goto(url, { waitUntil: "load" });
    await page.waitForSelector("body[data-ready='1']", { timeout: guard, polling: 50 });
    await s.idle();
    return s;
  }

  constructor(page, downloads) {
    this.page = page;
    this.downloads = downloads;
    this.errors = [];
  }

  close() {
    return this.page.close();
  }

  // The engine has nothing left to do: no step runs, no box is waiting, and what it drew is on
  // the canvas (paints are spaced, so one may still be due).
  async idle() {
    await this.page.waitForFunction(() => !window.morvaPage.busy() && window.morvaPage.step() === 0 &&
                                      !window.morvaPage.painting(),
                                    { timeout: guard, polling: 50 });
  }

  lines() {
    return this.page.evaluate(() => window.morvaPage.lines().map((l) => l.split(" ").slice(2).join(" ")));
  }

  // The open box: {caption, text, detail}, or null.
  box() {
    return this.page.evaluate(() => {
      const d = document.getElementById("box");
      if (!d.open) return null;
      const part = (c) => (d.querySelector(c) ? d.querySelector(c).textContent : "");
      return { caption: part(".caption"), text: part(".text"), detail: part(".detail"),
               buttons: [...d.querySelectorAll("button")].map((b) => b.textContent) };
    });
  }

  async waitForBox() {
    await this.page.waitForFunction(() => document.getElementById("box").open, { timeout: guard, polling: 50 });
    return this.box();
  }

  // Clicks the button of the open box whose text is `text`, once the box shows it.
  async press(text) {
    const button = await this.page.waitForFunction((t) => [...document.querySelectorAll("#box[open] button")]
      .find((b) => b.textContent === t), { timeout: guard, polling: 50 }, text).catch(async () => {
      throw new Error(`no button ${text} in ${JSON.stringify(await this.box())}`);
    });
    await button.asElement().click();
  }

  // The Port menu's item texts, as opened by a click on "Port".
  async portMenu() {
    await this.clickBar("Port");
    const items = await this.page.$$eval(".menu[data-menu='2'] > div", (rows) => rows.map((r) => {
      if (r.className === "separator") return "";
      const u = r.querySelector("u");
      return u ? r.textContent.replace(u.textContent, "&" + u.textContent) : r.textContent;
    }));
    await this.page.keyboard.press("Escape");
    return items;
  }

  async ticked() {
    await this.clickBar("Port");
    const names = await this.page.$$eval(".menu[data-menu='2'] > .item.checked", (rows) => rows.map((r) => r.textContent));
    await this.page.keyboard.press("Escape");
    return names;
  }

  async clickBar(text) {
    const entries = await this.page.$$("#menubar > .entry");
    for (const e of entries) if ((await e.evaluate((x) => x.textContent)) === text) return e.click();
    throw new Error(`no menu ${text}`);
  }

  // Clicks an item of the open popup `menu` (MenuId) by its text.
  async clickItem(menu, text, hoverOnly = false) {
    const rows = await this.page.$$(`.menu[data-menu='${menu}'] > .item`);
    for (const r of rows) {
      if ((await r.evaluate((x) => x.textContent)) === text) {
        await r.hover();
        if (!hoverOnly) await r.click();
        return;
      }
    }
    throw new Error(`no item ${text} in menu ${menu}`);
  }

  // Action > KIND > DIRECTION with the mouse.
  async mouseCommand(kind, direction) {
    await this.clickBar("Action");
    await this.clickItem(1, kind, true);
    await this.clickItem(4, direction);
  }

  // The same by the keys: Alt+A (Repeat is highlighted), down over the separator to the kind,
  // right into its popup, down to the direction, Return.
  async keyCommand(kindIndex, directionIndex) {
    await this.page.keyboard.down("Alt");
    await this.page.keyboard.press("a");
    await this.page.keyboard.up("Alt");
    for (let i = 0; i < 1 + kindIndex; ++i) await this.page.keyboard.press("ArrowDown");
    await this.page.keyboard.press("ArrowRight");
    for (let i = 0; i < directionIndex; ++i) await this.page.keyboard.press("ArrowDown");
    await this.page.keyboard.press("Enter");
  }

  async choosePort(position) {
    await this.clickBar("Port");
    const rows = await this.page.$$(".menu[data-menu='2'] > div");
    await rows[position].click();
  }

  // In the open file chooser: the browser's own chooser, given `file`.
  async chooseSource(file) {
    await this.page.waitForFunction(() => document.getElementById("box").open, { timeout: guard, polling: 50 });
    const [chooser] = await Promise.all([this.page.waitForFileChooser({ timeout: guard, polling: 50 }),
                                         this.page.click("#box .buttons button:first-child")]);
    await chooser.accept([file]);
  }

  // In the open file chooser of a read: the name typed, OK; the file comes as a download.
  async nameTarget(name) {
    await this.page.waitForFunction(() => document.getElementById("box").open, { timeout: guard, polling: 50 });
    await this.typeName(name);
    await this.press("OK");
  }

  // The chooser's name field emptied, then `name` typed into it.
  async typeName(name) {
    const field = await this.page.$("#box input[type=text]");
    await field.focus();
    await this.page.keyboard.down("Control");
    await this.page.keyboard.press("a");
    await this.page.keyboard.up("Control");
    await this.page.keyboard.press("Backspace");
    await field.type(name);
  }

  // A download of `name` that has stopped growing.
  async downloaded(name) {
    const p = path.join(this.downloads, name);
    let last = -1;
    const until = Date.now() + guard;
    while (Date.now() < until) {
      if (fs.existsSync(p)) {
        const size = fs.statSync(p).size;
        if (size === last) return fs.readFileSync(p);
        last = size;
      }
      await new Promise((r) => setTimeout(r, 100));
    }
    throw new Error(`no download ${name}`);
  }

  // Dark pixels in the band of the session and block lines (x 10 to 300, the lines' height):
  // the lines as the canvas shows them, whatever the engine thinks it drew.
  ink() {
    return this.page.evaluate(() => {
      const c = document.getElementById("canvas");
      const ratio = c.width / c.clientWidth;
      const d = c.getContext("2d").getImageData(10 * ratio, 20 * ratio, 290 * ratio, 60 * ratio).data;
      let n = 0;
      for (let i = 0; i < d.length; i += 4) if (d[i] < 80 && d[i + 1] < 80 && d[i + 2] < 80) n++;
      return n;
    });
  }
}
