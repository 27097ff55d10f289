// The transfer engine driven by hand, as a front end's loop drives it: one step at a time over
// a real POSIX port, waiting on the port while an operation is pending.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "link/link.h"
#include "platform/posix/file_service.h"
#include "platform/posix/serial_port.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"

namespace morva::hardening {

// The clock of the port under test. It follows the steady clock until frozen; frozen, it moves
// only when the test moves it, so that the port's time-outs fall exactly where the test says,
// however the machine schedules the test and the simulated device.
class TestClock {
 public:
  Clock::time_point now() const { return frozen_ ? at_ : Clock::now() + offset_; }
  void freeze() {
    at_ = now();
    frozen_ = true;
  }
  void advance(Clock::duration by) { at_ += by; }
  // Runs on from where it stands, with the steady clock.
  void thaw() {
    offset_ = at_ - Clock::now();
    frozen_ = false;
  }

 private:
  bool frozen_ = false;
  Clock::time_point at_;
  Clock::duration offset_{0};
};

struct EngineRig {
  // The port runs its time-outs on `now`: the steady clock, or a test's hand-moved one.
  explicit EngineRig(PosixSerialPort::NowFunction now = [] { return Clock::now(); })
      : clock(std::move(now)), port(std::make_unique<PosixSerialPort>(clock)) {
    link.port = port.get();
    state.files = &files;
  }
  explicit EngineRig(const TestClock& testClock)
      : EngineRig([&testClock] { return testClock.now(); }) {}

  // Opens and configures `path` as the selected port, as a port command does.
  bool openPort(const std::string& path) {
    link.portNameTable = {path};
    link.portIndex = 0;
    return openSelectedPort(link, op, false) == PortOpening::Opened;
  }

  // The start sequence of the Write, Read and Verify commands: reopen the port, then start
  // a session on `file` (chosen in the file chooser).
  StartResult start(Direction direction, DataKind kind, const std::string& file) {
    state.direction = direction;
    state.dataKind = kind;
    if (reopenOrDetect(link, op, op) != PortReadiness::Ready) return StartResult::Failed;
    op.fileChoices.push_back(FileChoice{file, false});
    return startSession(state, link, op);
  }

  // Performs one step, never waiting.
  StepResult stepOnce() { return performTransferStep(state.transferStep, state, link, op); }

  // Performs one step; when the outstanding operation is pending, waits on the port for news
  // (at most 50 ms on the port's clock) and reports Waiting.
  StepResult step() {
    const StepResult result = stepOnce();
    if (result == StepResult::Waiting) waitOnPort();
    return result;
  }

  void waitOnPort() {
    const auto start = std::chrono::steady_clock::now();
    link.port->waitForProgress(clock() + std::chrono::milliseconds(50));
    // A loop that sleeps longer than the port asked: slow scheduling, made to happen.
    if (minimumWait.count() > 0) std::this_thread::sleep_until(start + minimumWait);
  }

  // Runs steps until the session ends or `stopHere` says so right after a step (before any
  // wait on the port); false when the guard ran out first (a hang).
  bool runUntil(const std::function<bool(StepResult)>& stopHere,
                std::chrono::milliseconds guard = std::chrono::milliseconds(20000)) {
    const auto end = std::chrono::steady_clock::now() + guard;
    while (state.transferStep != TransferStep::Idle) {
      if (std::chrono::steady_clock::now() > end) return false;
      const StepResult result = stepOnce();
      if (stopHere && stopHere(result)) return true;
      if (result == StepResult::Waiting) waitOnPort();
    }
    return true;
  }
  bool runToEnd() { return runUntil({}); }

  // The Stop command: the session ends where it stands, both queues are emptied and the
  // outstanding operation is aborted; the data file stays open.
  void stop() {
    state.transferStep = TransferStep::Idle;
    link.port->purge();
  }

  // Every wait on the port lasts at least this long (0: as long as the port says).
  std::chrono::milliseconds minimumWait{0};
  PosixSerialPort::NowFunction clock;
  std::unique_ptr<PosixSerialPort> port;  // link.port, unless a test puts a wrapper between
  LinkPort link;
  PosixFileService files;
  SessionState state;
  morva::testing::RecordingOperator op;
};

}  // namespace morva::hardening
