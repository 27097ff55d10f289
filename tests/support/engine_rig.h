// The transfer engine driven by hand, as a front end's loop drives it: a session record, the
// link, a recording operator and a private folder around a port, stepped one step at a time
// and waiting on the port while an operation is pending. The port is the rig's own: a scripted
// one (which stands open from the start), or a real one whose time-outs run on the rig's
// clock. A test that puts a wrapper between them points link.port at the wrapper.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "link/link.h"
#include "platform/posix/file_service.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/files.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"
#include "transfer/frames.h"

namespace morva::testing {

// A clock for the port under test. It follows the steady clock until frozen; frozen, it moves
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

template <typename Port = FakeSerialPort>
struct EngineRig {
  static constexpr bool scripted = std::is_base_of_v<FakeSerialPort, Port>;

  explicit EngineRig(TimeSource now = Clock::now)
      : clock(std::move(now)), port(portOn(clock)) {
    link.port = &port;
    state.files = &files;
    if constexpr (scripted) port.open("/dev/ttyFAKE0");
  }
  explicit EngineRig(const TestClock& testClock)
      : EngineRig([&testClock] { return testClock.now(); }) {}
  EngineRig(const EngineRig&) = delete;
  EngineRig& operator=(const EngineRig&) = delete;

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

  // A scripted port: leaves an operation outstanding, as the step before `step` would have.
  void outstanding(bool isRead, std::size_t size, Reply reply) {
    port.script.push_back(std::move(reply));
    if (isRead)
      port.startRead(std::span(link.ioBuffer).first(size));
    else
      port.startWrite(std::span(link.ioBuffer).first(size));
  }

  TimeSource clock;
  Port port;
  LinkPort link;
  PosixFileService files;
  SessionState state;
  RecordingOperator op;
  ScratchDir dir;
  // Every wait on the port lasts at least this long (0: as long as the port says).
  std::chrono::milliseconds minimumWait{0};

 private:
  static Port portOn(const TimeSource& now) {
    if constexpr (std::is_constructible_v<Port, TimeSource>)
      return Port(now);
    else
      return Port();
  }
};

// Data for a scripted device: a repeatable pattern, and a block as a data frame.
inline Bytes pattern(std::size_t size, unsigned seed = 1) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed + i / 256);
  return b;
}

inline Bytes frameOf(Bytes data) {
  data.resize(blockSize);
  data.push_back(checksumFor(data));
  return data;
}

// A read or write the port refuses to start.
inline Reply refusedStart(int error) {
  Reply r;
  r.startFails = true;
  r.error = error;
  return r;
}

}  // namespace morva::testing
