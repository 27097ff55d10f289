// What the hardening tests share: a scratch directory, file helpers, a terminal with nobody at
// it, and morva-cli run in-process over any serial port against the simulated controller.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "frontends/cli/cli_app.h"
#include "platform/console.h"
#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/support/files.h"
#include "tests/support/quiet_console.h"
#include "transfer/operator.h"
#include "transfer/serial_port.h"

namespace morva::hardening {

namespace fs = std::filesystem;

using testing::Bytes;
using testing::ListedPorts;
using testing::QuietConsole;
using testing::randomBytes;
using testing::readFile;
using testing::ScratchDir;
using testing::slice;
using testing::writeFile;

// `name` as a test's name may stand: every character but a letter or a digit becomes '_'.
inline std::string asTestName(std::string name) {
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

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
  ListedPorts lister;
  QuietConsole console;
  cli::Environment env{port, lister, console, out, err, {}};
  result.status = cli::runCli(*parsed.options, env);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// What a complete program session of `direction` leaves: a read's `file` holds the program
// blocks of `memory` (the device's memory when the session began); the device holds a write's
// `source`, padded with zeros to whole blocks.
inline void expectProgramComplete(const std::string& direction, const fs::path& file,
                                  const Bytes& memory, const Bytes& source,
                                  const sim::Simulator& device) {
  if (direction == "read") {
    EXPECT_EQ(readFile(file), slice(memory, 0, 512 * 256));
  } else if (direction == "write") {
    Bytes padded = source;
    padded.resize((source.size() + 255) / 256 * 256, 0);
    EXPECT_EQ(slice(device.memory().snapshot(), 0, padded.size()), padded);
  }
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
