// The page's window: the menu bar built from the engine's menus and worked by mouse and by the
// desktop's keys, the modal boxes and choosers inside the page, and the canvas display/
// paints on.

export const MenuId = { Bar: 0, Action: 1, Port: 2, Help: 3, Choice: 4 };
const addPortCommand = -2;  // the page's own item of the Port menu

// "&Action" as text with its mnemonic underlined, and the mnemonic letter.
function label(text) {
  const span = document.createElement("span");
  const at = text.indexOf("&");
  if (at < 0 || at + 1 >= text.length) {
    span.textContent = text;
    return { span, key: "" };
  }
  const u = document.createElement("u");
  u.textContent = text[at + 1];
  span.append(text.slice(0, at), u, text.slice(at + 2));
  return { span, key: text[at + 1].toLowerCase() };
}

export class Menus {
  // `engine` has select(menu, position), command(number) and addPort().
  constructor(bar, engine) {
    this.bar = bar;
    this.engine = engine;
    this.model = null;
    this.levels = [];  // the open popups: {id, element, items, highlighted}
    this.barIndex = -1;
    document.addEventListener("mousedown", (e) => {
      if (this.active() && !e.target.closest(".menu, #menubar")) this.closeAll();
    });
  }

  install(menus) {
    this.model = menus;
    this.closeAll();
    this.bar.replaceChildren();
    this.entries = menus[MenuId.Bar].items.map((item, index) => {
      const { span, key } = label(item.text);
      const entry = document.createElement("div");
      entry.className = "entry";
      entry.setAttribute("role", "menuitem");
      entry.append(span);
      entry.addEventListener("mousedown", (e) => {
        e.preventDefault();
        if (this.barIndex === index && this.levels.length) this.closeAll();
        else this.openBar(index, false);
      });
      entry.addEventListener("mouseenter", () => {
        if (this.levels.length && this.barIndex !== index) this.openBar(index, false);
      });
      this.bar.append(entry);
      return { entry, key, popup: item.popup };
    });
  }

  setTick(portIndex, ticked) {
    const item = this.model && this.model[MenuId.Port].items[portIndex + 1];
    if (item) item.checked = ticked;
    this.refreshOpen();
  }
  setRepeat(enabled) {
    if (this.model) this.model[MenuId.Action].items[0].grayed = !enabled;
    this.refreshOpen();
  }

  active() {
    return this.barIndex >= 0;
  }

  // The items of a popup; the Port menu ends with the page's "Add a port…".
  itemsOf(id) {
    const items = this.model[id].items.slice();
    if (id === MenuId.Port)
      items.push({ type: "separator", text: "" },
                 { type: "command", text: "A&dd a port…", command: addPortCommand });
    return items;
  }

  openBar(index, highlightFirst) {
    this.closePopups(0);
    this.barIndex = index;
    this.entries.forEach((e, i) => e.entry.classList.toggle("open", i === index));
    const rect = this.entries[index].entry.getBoundingClientRect();
    this.openPopup(this.entries[index].popup, rect.left, rect.bottom);
    if (highlightFirst) this.move(1);
  }

  openPopup(id, x, y) {
    const element = document.createElement("div");
    element.className = "menu";
    element.setAttribute("role", "menu");
    element.dataset.menu = String(id);
    const level = { id, element, items: this.itemsOf(id), highlighted: -1, rows: [] };
    const depth = this.levels.length;
    level.items.forEach((item, position) => {
      const row = document.createElement("div");
      if (item.type === "separator") {
        row.className = "separator";
      } else {
        row.className = "item";
        row.setAttribute("role", "menuitem");
        row.append(label(item.text).span);
        row.addEventListener("mouseenter", () => this.highlight(depth, position, true));
        row.addEventListener("mousedown", (e) => e.preventDefault());
        row.addEventListener("click", () => this.activate(depth, position));
      }
      level.rows.push(row);
      element.append(row);
    });
    this.levels.push(level);
    this.decorate(level);
    document.body.append(element);
    element.style.left = `${Math.round(x)}px`;
    element.style.top = `${Math.round(y)}px`;
  }

  decorate(level) {
    level.items.forEach((item, i) => {
      const row = level.rows[i];
      if (item.type === "separator") return;
      row.classList.toggle("grayed", !!item.grayed);
      row.classList.toggle("checked", !!item.checked);
      row.classList.toggle("popup", item.type === "popup");
      row.classList.toggle("highlighted", i === level.highlighted);
    });
  }

  refreshOpen() {
    for (const level of this.levels) {
      const fresh = this.itemsOf(level.id);
      fresh.forEach((item, i) => { level.items[i] = item; });
      this.decorate(level);
    }
  }

  closePopups(depth) {
    while (this.levels.length > depth) this.levels.pop().element.remove();
  }

  closeAll() {
    this.closePopups(0);
    this.barIndex = -1;
    if (this.entries) this.entries.forEach((e) => e.entry.classList.remove("open"));
  }

  // The item at `position` of the popup at `depth` is highlighted: the engine hears of it (the
  // Action popup's kind entries choose the data kind), and a kind entry opens the shared popup.
  highlight(depth, position, byMouse) {
    if (depth >= this.levels.length) return;
    this.closePopups(depth + 1);
    const level = this.levels[depth];
    level.highlighted = position;
    this.decorate(level);
    this.engine.select(level.id, position);
    const item = level.items[position];
    if (item.type === "popup" && byMouse) this.openSub(depth, position);
  }

  openSub(depth, position) {
    const level = this.levels[depth];
    const rect = level.rows[position].getBoundingClientRect();
    this.openPopup(level.items[position].popup, rect.right - 2, rect.top - 3);
  }

  activate(depth, position) {
    const level = this.levels[depth];
    const item = level && level.items[position];
    if (!item || item.type === "separator" || item.grayed) return;
    if (item.type === "popup") {
      if (this.levels.length === depth + 1) this.openSub(depth, position);
      this.move(1);
      return;
    }
    this.closeAll();
    if (item.command === addPortCommand) this.engine.addPort();
    else this.engine.command(item.command);
  }

  // Up (-1) or down (+1) in the deepest popup, over the separators.
  move(step) {
    const depth = this.levels.length - 1;
    const level = this.levels[depth];
    const n = level.items.length;
    let at = level.highlighted;
    for (let tries = 0; tries < n; ++tries) {
      at = at < 0 ? (step > 0 ? 0 : n - 1) : (at + step + n) % n;
      if (level.items[at].type !== "separator") break;
    }
    this.highlight(depth, at, false);
  }

  // The desktop's keys: Alt+letter opens a menu, arrows move, Return chooses, Esc closes one
  // popup, a letter chooses the item it marks. True when the key was the menus'.
  key(event) {
    if (event.altKey && event.key.length === 1) {
      const index = this.entries.findIndex((e) => e.key === event.key.toLowerCase());
      if (index >= 0) {
        this.openBar(index, true);
        return true;
      }
    }
    if (!this.active()) return false;
    const depth = this.levels.length - 1;
    const level = this.levels[depth];
    switch (event.key) {
      case "ArrowDown": this.move(1); return true;
      case "ArrowUp": this.move(-1); return true;
      case "ArrowRight": {
        const item = level.items[level.highlighted];
        if (item && item.type === "popup") this.activate(depth, level.highlighted);
        else this.openBar((this.barIndex + 1) % this.entries.length, true);
        return true;
      }
      case "ArrowLeft":
        if (depth > 0) this.closePopups(depth);
        else this.openBar((this.barIndex + this.entries.length - 1) % this.entries.length, true);
        return true;
      case "Enter": this.activate(depth, level.highlighted); return true;
      case "Escape":
        if (depth > 0) this.closePopups(depth);
        else this.closeAll();
        return true;
      default: {
        if (event.key.length !== 1) return true;
        const position = level.items.findIndex((item) => item.type !== "separator" &&
                                                 label(item.text).key === event.key.toLowerCase());
        if (position >= 0) {
          this.highlight(depth, position, false);
          this.activate(depth, position);
        }
        return true;
      }
    }
  }
}

const icons = { warning: "\u26A0\uFE0F", error: "\u26D4", information: "\u2139\uFE0F", question: "\u2753" };

function button(text, value) {
  const b = document.createElement("button");
  b.type = "button";
  b.append(label(text).span);
  b.value = value;
  return b;
}

// The modal boxes and choosers: one <dialog> at a time, its answer a promise.
export class Dialogs {
  constructor(dialog) {
    this.dialog = dialog;
  }

  open() {
    return this.dialog.open;
  }

  show(caption, content, buttons, focus, onCancel) {
    const d = this.dialog;
    d.replaceChildren();
    const head = document.createElement("div");
    head.className = "caption";
    head.textContent = caption;
    const row = document.createElement("div");
    row.className = "buttons";
    row.append(...buttons);
    d.append(head, content, row);
    return new Promise((resolve) => {
      const finish = (value) => {
        d.oncancel = null;
        d.close();
        resolve(value);
      };
      for (const b of buttons) b.addEventListener("click", () => b.onChoose(finish));
      d.oncancel = (e) => {
        e.preventDefault();
        finish(onCancel());
      };
      d.showModal();
      focus.focus();
    });
  }

  // 0 OK, 1 Yes, 2 No; Esc answers No to a question, as closing the box does on the desktop.
  message(m) {
    const body = document.createElement("div");
    body.className = "body";
    const icon = document.createElement("div");
    icon.className = "icon";
    icon.textContent = icons[m.icon] || "";
    const words = document.createElement("div");
    const text = document.createElement("div");
    text.className = "text";
    text.textContent = m.text;
    words.append(text);
    if (m.detail) {
      const detail = document.createElement("div");
      detail.className = "detail";
      detail.textContent = m.detail;
      words.append(detail);
    }
    body.append(icon, words);
    const buttons = m.yesNo ? [button("&Yes", 1), button("&No", 2)] : [button("OK", 0)];
    for (const b of buttons) b.onChoose = (finish) => finish(Number(b.value));
    const focus = m.yesNo && m.noIsDefault ? buttons[1] : buttons[0];
    return this.show(m.caption, body, buttons, focus, () => (m.yesNo ? 2 : 0));
  }

  // The file chooser: the direction's title, the kind's filter, the previous name; the
  // browser's own chooser opens from its button (a click of the person's, which the browser
  // requires). The chosen file's name, or null when cancelled.
  chooseFile(request, files, sourcePicker) {
    const body = document.createElement("div");
    body.className = "body";
    const words = document.createElement("div");
    words.style.flex = "1";
    const filter = document.createElement("div");
    filter.textContent = request.filter;
    const nameLabel = document.createElement("label");
    nameLabel.textContent = "File name:";
    const name = document.createElement("input");
    name.type = "text";
    name.value = request.initialName;
    nameLabel.append(name);
    const note = document.createElement("div");
    note.className = "note";
    words.append(filter, nameLabel, note);
    body.append(words);

    const extensions = request.pattern.split(";").map((p) => p.replace(/^\*/, ""));
    const browse = button(request.save ? (files.canSave ? "&Save as…" : "&Save") : "&Choose…", 0);
    const ok = button("OK", 0);
    const cancel = button("Cancel", 0);
    cancel.onChoose = (finish) => finish(null);
    const refused = (error) => { note.textContent = `The browser refused: ${error.name}: ${error.message}`; };
    if (request.save) {
      const asDownload = (finish) => {
        if (name.value.trim()) finish(files.chosenTarget(name.value.trim()));
      };
      ok.onChoose = asDownload;
      browse.onChoose = files.canSave ? (finish) => {
        window.showSaveFilePicker({ suggestedName: name.value || undefined,
          types: [{ description: request.filter, accept: { "application/octet-stream": extensions } }] })
          .then((handle) => finish(files.chosenTarget(handle.name, handle)),
                (error) => { if (error.name !== "AbortError") refused(error); });
      } : asDownload;
    } else {
      let empty = null;  // the name of an empty file the person chose
      ok.onChoose = (finish) => { if (name.value.trim() && name.value !== empty) finish(name.value.trim()); };
      browse.onChoose = (finish) => {
        sourcePicker.accept = extensions.join(",");
        sourcePicker.value = "";
        sourcePicker.onchange = () => {
          const file = sourcePicker.files[0];
          if (!file) return;
          name.value = file.name;
          // An empty file would put one block of zeros into the device: it is not taken. A
          // file longer than the kind's range is taken once the person has read that only
          // its start is used.
          if (file.size === 0) {
            empty = file.name;
            note.textContent = `${file.name} is empty: there is nothing to ${request.verify ? "compare" : "send"}.`;
            return;
          }
          files.chosenSource(file);
          if (request.range && file.size > request.range) {
            note.textContent = `${file.name} is ${file.size} bytes: only its first ${request.range} bytes ` +
              `(${request.range / 256} blocks) are ${request.verify ? "compared" : "sent"}. OK goes on.`;
            return;
          }
          finish(file.name);
        };
        try {
          sourcePicker.click();
        } catch (error) {
          refused(error);
        }
      };
    }
    return this.show(request.title, body, [browse, ok, cancel], browse, () => null);
  }

  // The font chooser: a face, a size and a style; null when cancelled.
  chooseFont(current) {
    const body = document.createElement("div");
    body.className = "body";
    const words = document.createElement("div");
    const face = document.createElement("select");
    for (const f of ["Fixedsys", "DejaVu Sans Mono", "Courier New", "monospace", "serif", "sans-serif"])
      face.append(new Option(f, f, false, f === current.face));
    const size = document.createElement("select");
    for (const s of [0, 12, 14, 16, 18, 20, 24, 28, 32])
      size.append(new Option(s === 0 ? "default" : `${s} px`, String(s), false, s === current.pixelSize));
    const bold = document.createElement("input");
    bold.type = "checkbox";
    bold.checked = current.weight >= 700;
    const italic = document.createElement("input");
    italic.type = "checkbox";
    italic.checked = current.italic;
    const row = (text, control) => {
      const l = document.createElement("label");
      l.append(text, " ", control);
      return l;
    };
    words.append(row("Font:", face), row("Size:", size), row("Bold", bold), row("Italic", italic));
    body.append(words);
    const ok = button("OK", 0);
    ok.onChoose = (finish) => finish({ face: face.value, pixelSize: Number(size.value),
                                       weight: bold.checked ? 700 : 400, italic: italic.checked });
    const cancel = button("Cancel", 0);
    cancel.onChoose = (finish) => finish(null);
    return this.show("Font", body, [ok, cancel], face, () => null);
  }
}

// display/'s canvas: the 2D context in CSS pixels, scaled for the screen's density so that
// lines stay sharp on high-density screens.
export class Painter {
  constructor(canvas, picture) {
    this.canvas = canvas;
    this.ctx = canvas.getContext("2d");
    this.picture = picture;
    this.fixed = true;
    this.metricsOf = new Map();
  }

  setFont(face, pixels, points, fixed, weight, italic) {
    const size = pixels > 0 ? pixels : points > 0 ? Math.round((points * 96) / 72) : 16;
    // The default face is rarely installed outside Windows: the fixed-pitch hint keeps the
    // lines monospaced.
    const family = `"${face}", ${fixed ? '"DejaVu Sans Mono", "Liberation Mono", monospace' : "sans-serif"}`;
    const font = `${italic ? "italic " : ""}${weight > 0 ? weight : 400} ${size}px ${family}`;
    if (font !== this.font) {
      this.font = font;
      this.ctx.font = font;
    }
    this.fixed = fixed;
  }

  metrics() {
    const key = this.font;
    let m = this.metricsOf.get(key);
    if (!m) {
      if ("letterSpacing" in this.ctx) this.ctx.letterSpacing = "0px";
      const zero = this.ctx.measureText("0");
      const ascent = zero.fontBoundingBoxAscent ?? zero.actualBoundingBoxAscent;
      const descent = zero.fontBoundingBoxDescent ?? zero.actualBoundingBoxDescent;
      const letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
      const average = this.fixed ? zero.width : this.ctx.measureText(letters).width / letters.length;
      const width = Math.max(1, Math.round(average));
      m = { height: Math.ceil(ascent + descent), averageCharWidth: width, ascent: Math.round(ascent),
            spacing: `${width - zero.width}px` };
      this.metricsOf.set(key, m);
    }
    return m;
  }

  // The picture is stretched once for each size of the window and then only copied: a paint
  // during a transfer (every step repaints the status line) stays cheap.
  drawImage(x, y, w, h) {
    if (!this.picture.complete || !this.picture.naturalWidth || w <= 0 || h <= 0) return;
    const ratio = this.canvas.width / Math.max(1, this.canvas.clientWidth);
    const pw = Math.round(w * ratio);
    const ph = Math.round(h * ratio);
    if (!this.stretched || this.stretched.width !== pw || this.stretched.height !== ph) {
      this.stretched = document.createElement("canvas");
      this.stretched.width = pw;
      this.stretched.height = ph;
      this.stretched.getContext("2d").drawImage(this.picture, 0, 0, pw, ph);
    }
    this.ctx.drawImage(this.stretched, x, y, w, h);
  }

  setColour(r, g, b) {
    this.ctx.fillStyle = `rgb(${r}, ${g}, ${b})`;
  }

  // A fixed-pitch line is laid out on the grid of the metrics' whole-pixel width, so that it
  // ends where the layout said (a canvas advances by fractions of a pixel): by the letter
  // spacing where the canvas has one, else one character at a time.
  drawText(x, y, text) {
    const m = this.metrics();
    const baseline = y + m.ascent;
    if (!this.fixed) {
      if ("letterSpacing" in this.ctx) this.ctx.letterSpacing = "0px";
      this.ctx.fillText(text, x, baseline);
    } else if ("letterSpacing" in this.ctx) {
      this.ctx.letterSpacing = m.spacing;
      this.ctx.fillText(text, x, baseline);
    } else {
      for (let i = 0; i < text.length; ++i) this.ctx.fillText(text[i], x + i * m.averageCharWidth, baseline);
    }
  }
}
