// The fuzz harness's invariants: what is checked after each session start, each operation the
// engine starts and each step, and what a session must have left behind at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/device_model.h"
#include "fuzz/scenario.h"
#include "platform/posix/file_service.h"
#include "tests/support/fake_serial_port.h"
#include "transfer/engine.h"

namespace morva::fuzz {

// A message shown, and the operator's answer to it.
struct Shown {
  Message message;
  Answer answer = Answer::Ok;
};

// The engine under test with what it is lent: its state and link, the scripted port, the data
// files, the operator, and what the operator was shown during the current start or step.
struct Rig {
  explicit Rig(std::function<Answer(const Message&)> decide) : op(std::move(decide)) {}
  SessionState state;
  LinkPort link;
  testing::FakeSerialPort port;
  PosixFileService files;
  ScriptedOperator op;
  std::vector<Shown> shown;
};

// What a step may not change while it only waits, and what the checks compare against.
struct Snapshot {
  TransferStep step = TransferStep::Idle;
  bool quietCheck = false;  // the step waits for the line to stay quiet after the last answer
  std::uint16_t currentBlock = 0, blocksLeft = 0;
  std::string firmware, second;
  std::size_t messages = 0, invalidations = 0, operations = 0;
  std::optional<Failure> failure;
};
Snapshot snapshot(const Rig& rig);

// Collects the first broken invariant of an input's sessions.
class Invariants {
 public:
  Invariants(const Rig& rig, const Scenario& scenario, const DeviceModel& model);

  // Before session `index` starts.
  void beforeStart(int index);
  void checkStart(StartResult result, StartExpectation expected);
  // Once a start returned Started.
  void sessionStarted();
  // An operation the engine started while `step` ran (Idle: the session start).
  void checkOperation(const testing::Operation& op, TransferStep step);
  void checkStep(TransferStep s, StepResult result, const Snapshot& before,
                 const StepExpectation& expected);
  // A step message for `stale`, no longer the current step, was performed.
  void checkIgnored(TransferStep stale, StepResult result, const Snapshot& before);
  // After a started session: `lastStep` the last step performed, `interruptedAt` the step at
  // which the operator stopped it or started another (Idle: neither).
  void endSession(int lastStep, TransferStep interruptedAt);

  void violation(const std::string& what);
  bool broken() const { return !violations_.empty(); }
  const std::vector<std::string>& violations() const { return violations_; }
  bool identified() const { return identified_; }

 private:
  const SessionConfig& config() const { return scenario_.config(); }
  const DataFile& directionFile() const;
  const DataFile& otherFile() const;
  unsigned blockIndex() const;
  std::optional<FailureKind> failedWith() const;
  void checkFailure(const std::string& where, const std::optional<Failure>& expected,
                    const std::vector<Message>& questions);
  void checkFileRequest(const FileRequest& request);
  void checkStarted();
  void checkStartFiles(StartResult result);
  void checkBlockCommand(const testing::Operation& op);
  void checkDataFrame(const testing::Operation& op);
  void checkCounters(TransferStep s, const Snapshot& before);
  void checkBlockRange();
  void checkVersions(TransferStep s, const Snapshot& before);
  void checkEnding(TransferStep s, TransferStep t);
  void checkFiles(TransferStep s, TransferStep t);
  void checkCompleteExchanges(std::size_t expected);
  void checkTarget(unsigned done, TransferStep interruptedAt);

  const Rig& rig_;
  const SessionState& state_;
  const testing::FakeSerialPort& port_;
  const ScriptedOperator& op_;
  const std::vector<Shown>& shown_;
  const Scenario& scenario_;
  const DeviceModel& model_;
  std::vector<std::string> violations_;

  int sessionIndex_ = 0;
  Snapshot beforeStart_;
  bool sourceOpen_ = false, targetOpen_ = false;  // before the start
  std::size_t requests_ = 0;                      // chooser requests before the start
  const KindInfo* kind_ = nullptr;
  bool regularFile_ = true;  // the session's data file is not a device
  std::uintmax_t targetSizeAtStart_ = 0;
  bool otherOpenAtStart_ = false;
  bool identified_ = false, cleanEnd_ = false, declined_ = false;
};

}  // namespace morva::fuzz
