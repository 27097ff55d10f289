// The fuzz harness's driver: plays an input's sessions step by step against the engine, with
// the device model answering the port, the scenario answering the operator's questions, and
// the invariants checked after every start, operation and step.
#include <optional>
#include <system_error>
#include <utility>

#include "fuzz/device_model.h"
#include "fuzz/input_format.h"
#include "fuzz/invariants.h"
#include "fuzz/scenario.h"
#include "fuzz/session_harness.h"
#include "transfer/engine.h"

namespace morva::fuzz {

namespace {

namespace fs = std::filesystem;
using enum TransferStep;
using testing::Operation;
using testing::Reply;

constexpr int sessionsPerInput = 4;
// Far above the longest session (3200 blocks of six steps, a few pending polls each): a
// session still running after this many steps does not end by itself.
constexpr long stepLimit = 400000;
constexpr const char* portName = "/dev/ttyFUZZ0";

class Harness {
 public:
  Harness(std::span<const std::uint8_t> input, fs::path dir)
      : input_(input),
        scenario_(std::move(dir)),
        model_(input_),
        rig_([this](const Message& m) { return onMessage(m); }),
        invariants_(rig_, scenario_, model_) {}

  RunReport play() {
    rig_.port.open(portName);
    rig_.link.port = &rig_.port;
    rig_.state.files = &rig_.files;
    rig_.port.device = [this](const Operation& op) { return onOperation(op); };
    while (!input_.exhausted() && sessionIndex_ < sessionsPerInput && !invariants_.broken()) {
      scenario_.prepare(decodeConfig(input_), sessionIndex_);
      runSession();
      ++sessionIndex_;
    }
    report_.violations = invariants_.violations();
    report_.messages = rig_.op.shown();
    return std::move(report_);
  }

 private:
  const SessionConfig& config() const { return scenario_.config(); }

  void runSession() {
    record_ = SessionRecord{config().direction, config().kind};
    SessionState& state = rig_.state;
    rig_.op.fileChoices.clear();
    if (scenario_.choice()) rig_.op.fileChoices.push_back(*scenario_.choice());
    reopenPort();
    state.direction = config().direction;
    state.dataKind = config().kind;
    // Out-of-range values reach the engine only through a corrupted menu state.
    if (config().oddity == Oddity::DirectionOutOfRange)
      state.direction = static_cast<Direction>((config().seed & 4) != 0 ? -1 : 3);
    if (config().oddity == Oddity::KindOutOfRange)
      state.dataKind = static_cast<DataKind>((config().seed & 4) != 0 ? -1 : 3);
    model_.beginSession(config());
    interruptedAt_ = Idle;

    const StartExpectation expected = scenario_.expectStart();
    invariants_.beforeStart(sessionIndex_);
    rig_.shown.clear();
    currentStep_ = Idle;
    const StartResult result = startSession(
        state, rig_.link, rig_.op, config().repeat ? FileSource::LastFile : FileSource::Chooser);
    record_.startResult = static_cast<int>(result);
    invariants_.checkStart(result, expected);
    if (result == StartResult::Started) sessionStarted();

    bool restarted = interfere();
    while (!restarted && sessionRunning(state.transferStep) && !invariants_.broken()) {
      if (report_.steps >= stepLimit) {
        invariants_.violation("the session did not end within " + std::to_string(stepLimit) +
                              " steps");
        break;
      }
      step();
      restarted = interfere();
    }
    if (result == StartResult::Started && !invariants_.broken())
      invariants_.endSession(record_.lastStep, interruptedAt_);
    record_.outcome = state.outcome;
    record_.blocksDone = static_cast<unsigned>(state.currentBlock - state.firstBlock);
    record_.identified = invariants_.identified();
    record_.differencesAccepted = scenario_.differencesAccepted();
    report_.sessions.push_back(record_);
  }

  // Before every session the program closes the port and opens it again.
  void reopenPort() {
    rig_.port.close();
    if (config().oddity != Oddity::NoPort) rig_.port.open(portName);
  }

  void sessionStarted() {
    const std::string& name = rig_.state.fileName;
    const bool read = rig_.state.direction == Direction::ReadFromDevice;
    model_.setFile(name, factsOf(name), read ? Bytes{} : readWholeFile(name));
    invariants_.sessionStarted();
  }

  void step() {
    const TransferStep s = rig_.state.transferStep;
    const Snapshot before = snapshot(rig_);
    rig_.shown.clear();
    currentStep_ = s;
    std::optional<std::uint8_t> stray;
    if (!rig_.port.unasked.empty()) stray = rig_.port.unasked.front();
    const StepExpectation expected = model_.expect(s, before.quietCheck, stray);
    const StepResult result = performTransferStep(s, rig_.state, rig_.link, rig_.op);
    ++report_.steps;
    if (result != StepResult::Waiting) record_.lastStep = stepNumber(s);
    invariants_.checkStep(s, result, before, expected);
  }

  // The operator's Stop, a Restart (a new session over the running one) or a stale message,
  // as the last operation's action asked for.
  bool interfere() {
    if (std::exchange(stalePost_, false)) postStale();
    if (stop_ || restart_) interruptedAt_ = rig_.state.transferStep;
    if (std::exchange(stop_, false)) stopSession(rig_.state, rig_.link, rig_.op);
    return std::exchange(restart_, false);
  }

  // A step message posted for a step that is no longer current.
  void postStale() {
    const TransferStep current = rig_.state.transferStep;
    const auto stale = static_cast<TransferStep>((stepNumber(current) + 1 + staleOffset_ % 3) % 11);
    const Snapshot before = snapshot(rig_);
    const StepResult result = performTransferStep(stale, rig_.state, rig_.link, rig_.op);
    invariants_.checkIgnored(stale, result, before);
  }

  Reply onOperation(const Operation& op) {
    invariants_.checkOperation(op, currentStep_);
    model_.noteCommand(op);
    const Action action = model_.nextAction();
    stalePost_ = stalePost_ || action.stalePost;
    staleOffset_ = action.arg1 + action.pendingPolls;
    stop_ = stop_ || action.interference == Interference::Stop;
    restart_ = restart_ || action.interference == Interference::Restart;
    return model_.answer(op, action);
  }

  Answer onMessage(const Message& m) {
    Shown shown;
    shown.message = m;
    if (m.buttons == Buttons::YesNo) shown.answer = scenario_.answer(currentStep_ == Idle);
    rig_.shown.push_back(shown);
    return shown.answer;
  }

  Input input_;
  Scenario scenario_;
  DeviceModel model_;
  Rig rig_;
  Invariants invariants_;
  RunReport report_;

  SessionRecord record_;
  int sessionIndex_ = 0;
  TransferStep currentStep_ = Idle;
  TransferStep interruptedAt_ = Idle;  // the step at which the operator stopped or restarted
  bool stalePost_ = false, stop_ = false, restart_ = false;
  int staleOffset_ = 0;
};

void removeContent(const fs::path& dir) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) fs::remove_all(entry.path(), error);
}

}  // namespace

RunReport runInput(std::span<const std::uint8_t> input, const fs::path& workDir) {
  RunReport report;
  {
    Harness harness(input, workDir);
    report = harness.play();
  }
  removeContent(workDir);
  return report;
}

}  // namespace morva::fuzz
