// The page's data files: what the person chose, by the name the engine knows it by. A source
// is a chosen File, read whole when the session opens it; a target is a file handle of the
// File System Access API where the browser has one, otherwise a download of that name.
import { describe } from "./serial.js";

export const roleSource = 1;
export const roleTarget = 2;

export class Files {
  constructor() {
    this.entries = new Map();
    this.canSave = typeof window.showSaveFilePicker === "function";
  }

  chosenSource(file) {
    this.entries.set(file.name, { role: roleSource, file });
    return file.name;
  }
  chosenTarget(name, handle = null) {
    this.entries.set(name, { role: roleTarget, handle });
    return name;
  }

  role(name) {
    const entry = this.entries.get(name);
    return entry ? entry.role : 0;
  }

  async read(name) {
    const entry = this.entries.get(name);
    return new Uint8Array(await entry.file.arrayBuffer());
  }

  // "" once saved, else why not. Nothing to save (a read that ended before its first block)
  // makes no file.
  async save(name, bytes) {
    const entry = this.entries.get(name);
    if (!entry || bytes.length === 0) return "";
    try {
      if (entry.handle) {
        const writable = await entry.handle.createWritable();
        await writable.write(bytes);
        await writable.close();
      } else {
        download(name, bytes);
      }
      return "";
    } catch (error) {
      return describe(error);
    }
  }
}

function download(name, bytes) {
  const url = URL.createObjectURL(new Blob([bytes], { type: "application/octet-stream" }));
  const a = document.createElement("a");
  a.href = url;
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}
