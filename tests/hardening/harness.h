// What the hardening tests share: a scratch directory, file helpers, morva-cli run in-process
// over any serial port against the simulated controller, the engine driven by hand over the
// real port, and what a complete session leaves.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_rig.h"
#include "tests/support/files.h"
#include "transfer/operator.h"
#include "transfer/serial_port.h"

namespace morva::hardening {

namespace fs = std::filesystem;

using testing::Bytes;
using testing::CliResult;
using testing::randomBytes;
using testing::readFile;
using testing::runCliOver;
using testing::ScratchDir;
using testing::slice;
using testing::TestClock;
using testing::writeFile;

// The engine driven by hand over the real POSIX port.
using PosixRig = testing::EngineRig<PosixSerialPort>;

using testing::asTestName;

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
