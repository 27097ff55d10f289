// What the hardening tests share: a scratch directory, file helpers, a terminal with nobody at
// it, and morva-cli run in-process over any serial port against the simulated controller.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frontends/cli/cli_app.h"
#include "platform/console.h"
#include "platform/posix/file_service.h"
#include "platform/posix/serial_port.h"
#include "tests/support/files.h"
#include "tests/support/quiet_console.h"
#include "transfer/operator.h"
#include "transfer/serial_port.h"

namespace morva::hardening {

namespace fs = std::filesystem;

using testing::NoLister;
using testing::QuietConsole;
using testing::randomBytes;
using testing::readFile;
using testing::ScratchDir;
using testing::slice;
using testing::writeFile;

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;

  // The "Caption: text" line the tool printed for a message box.
  bool said(const std::string& caption, const std::string& text) const {
    return err.find(caption + ": " + text + "\n") != std::string::npos;
  }
};

// Runs "morva-cli ARGS --port PORTPATH [--yes]" in this process over `port`.
inline CliResult runCliOver(SerialPort& port, const std::string& portPath,
                            std::vector<std::string> args, bool yes = false) {
  args.push_back("--port");
  args.push_back(portPath);
  if (yes) args.push_back("--yes");
  CliResult result;
  const cli::ParseResult parsed = cli::parseOptions(args);
  if (!parsed.options) {
    result.err = parsed.error;
    return result;
  }
  std::ostringstream out, err;
  NoLister lister;
  QuietConsole console;
  PosixFileService files;
  cli::Environment env{port, lister, files, console, out, err, {}};
  result.status = cli::runCli(*parsed.options, env);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// A port that gives each answer a hundred times the line's time: a device held while a test's
// other actor does its part is not taken for a silent one, however loaded the machine is. The
// gap between two bytes, and the quiet wait before a session, stay the line's.
struct PatientPort : PosixSerialPort {
  bool configure(const Timeouts& line) override {
    line_ = line;
    return PosixSerialPort::configure({line.perByte * 100, line.interval});
  }
  void discardUntilQuiet(Clock::time_point limit) override {
    PosixSerialPort::configure(line_);
    PosixSerialPort::discardUntilQuiet(limit);
    configure(line_);
  }
  Timeouts line_ = lineTimeouts;
};

// Runs `session` on a thread of its own; once `device` holds an answer, `meanwhile` plays the
// other program, and the device is let go. False when the device never held.
template <class Device, class Session, class Meanwhile>
bool whileHeld(Device& device, Session session, Meanwhile meanwhile) {
  std::thread running(session);
  const bool held = device.awaitHold();
  if (held) meanwhile();
  device.release();
  running.join();
  return held;
}

// Reads and drops whatever a device still sends until the line has been silent for a whole
// answer time-out; false when it never falls silent. A device that talked past the end of a
// failed or stopped session would otherwise talk into the next one.
inline bool drainUntilQuiet(SerialPort& port) {
  const auto guard = Clock::now() + std::chrono::seconds(5);
  std::uint8_t byte = 0;
  while (Clock::now() < guard) {
    if (!port.startRead(std::span(&byte, 1))) return false;
    PollResult result = port.poll();
    while (result.isPending()) {
      port.waitForProgress(port.waitHint().deadline);
      result = port.poll();
    }
    if (result.isFailed()) return false;
    if (result.count == 0) return true;
  }
  return false;
}

// The same on the port at `path`, opened for the purpose.
inline bool waitUntilQuiet(const std::string& path) {
  PosixSerialPort port;
  return port.open(path) && port.configure(lineTimeouts) && drainUntilQuiet(port);
}

}  // namespace morva::hardening
