// The page's own JavaScript where it decides something by itself: the ports' names, the
// errors as the engine reads them, and the news that wakes a waiting engine.
import assert from "node:assert/strict";
import { test } from "node:test";
import { describe, News, portNames } from "../../frontends/web/page/serial.js";

test("ports are named by their USB ids, alike ones numbered, in the order granted", () => {
  const cases = [
    [[], []],
    [[{}], ["Serial port"]],
    [[{ usbVendorId: 0x403, usbProductId: 0x6001 }], ["USB 0403:6001"]],
    [[{}, { usbVendorId: 0x67b, usbProductId: 0x2303 }, {}, { usbVendorId: 0x67b, usbProductId: 0x2303 }],
     ["Serial port", "USB 067B:2303", "Serial port #2", "USB 067B:2303 #2"]],
    [[{ usbVendorId: 0x10c4 }], ["USB 10C4:0000"]],
  ];
  for (const [infos, names] of cases) assert.deepEqual(portNames(infos), names);
});

test("a browser error becomes the number, the cause and the text the engine shows", () => {
  const error = (name, message) => Object.assign(new Error(message), { name });
  const cases = [
    [error("NetworkError", "Failed to open serial port."), true, "16 busy NetworkError: Failed to open serial port."],
    [error("NetworkError", "The device has been lost."), false, "5 gone NetworkError: The device has been lost."],
    [error("InvalidStateError", "The port is already open."), true, "16 busy InvalidStateError: The port is already open."],
    [error("SecurityError", "Access denied."), true, "13 denied SecurityError: Access denied."],
    [error("NotFoundError", "No port selected."), true, "2 missing NotFoundError: No port selected."],
    [error("TypeError", "odd"), false, "5 other TypeError: odd"],
  ];
  for (const [e, opening, text] of cases) assert.equal(describe(e, opening), text);
});

test("news that came after the engine last looked is not waited for again", async () => {
  const news = new News();
  news.looked();
  news.ring();  // between the engine's look and its wait
  const started = Date.now();
  await news.wait(Infinity);
  assert.ok(Date.now() - started < 1000);
});

test("a wait ends with the next news, or at its deadline", async () => {
  const news = new News();
  news.looked();
  const woken = news.wait(Infinity);
  setTimeout(() => news.ring(), 10);
  await woken;
  news.looked();
  const until = performance.now() + 30;
  await news.wait(until);
  assert.ok(performance.now() >= until - 2);  // timers keep whole milliseconds
});
