#include "fuzz/invariants.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "tests/support/recording_operator.h"
#include "transfer/wording.h"

namespace morva::fuzz {

namespace {

namespace fs = std::filesystem;
using enum TransferStep;
using testing::Invalidation;
using testing::Operation;

std::string number(TransferStep step) {
  return std::to_string(stepNumber(step));
}

// The steps that may follow each step (0 ends the session), as bit sets: a write's cycle
// runs 3 to 7 and 9, a read's and a verify's 3 to 5, 8 and 9.
constexpr unsigned bit(TransferStep step) {
  return 1u << stepNumber(step);
}
constexpr unsigned orEnd(TransferStep step) {
  return bit(step) | bit(Idle);
}
// Indexed by the step that ran.
constexpr std::array<unsigned, 10> writeNext{0,
                                             orEnd(AwaitIdentification),
                                             orEnd(SendCommand),
                                             orEnd(AwaitCommandSent),
                                             orEnd(AwaitCommandAnswer),
                                             orEnd(AwaitDataSent),
                                             orEnd(AwaitDataAnswer),
                                             orEnd(CountBlock),
                                             0,
                                             orEnd(SendCommand)};
constexpr std::array<unsigned, 10> readNext{0,
                                            orEnd(AwaitIdentification),
                                            orEnd(SendCommand),
                                            orEnd(AwaitCommandSent),
                                            orEnd(AwaitCommandAnswer),
                                            orEnd(AwaitDataFrame),
                                            0,
                                            0,
                                            orEnd(CountBlock),
                                            orEnd(SendCommand)};

bool validStep(TransferStep step) {
  return stepNumber(step) >= 0 && stepNumber(step) <= 9;
}

bool transitionAllowed(TransferStep from, TransferStep to, Direction direction) {
  if (!validStep(from) || from == Idle || !validStep(to)) return false;
  const auto& next = direction == Direction::WriteToDevice ? writeNext : readNext;
  return (next[static_cast<std::size_t>(stepNumber(from))] & bit(to)) != 0;
}

bool isVersionText(const std::string& t) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (t == "N/A" || t == "?.??") return true;
  return t.size() == 4 && digit(t[0]) && t[1] == '.' &&
         ((digit(t[2]) && digit(t[3])) || (t[2] == '?' && t[3] == '?'));
}

// The kind whose range starts at `firstBlock`, or null.
const KindInfo* kindStartingAt(std::uint16_t firstBlock) {
  for (DataKind k : {DataKind::FirmwareUpgrade, DataKind::FixtureLibraries, DataKind::UserData})
    if (kindInfo(k)->firstBlock == firstBlock) return kindInfo(k);
  return nullptr;
}

// A failure as the operator reads it, with the values the text leaves out.
std::string describe(const std::optional<Failure>& f) {
  if (!f) return "no failure";
  return "\"" + failureMessage(*f).text + "\" (step " + number(f->step) + ", path \"" + f->path +
         "\", error " + std::to_string(f->error.number) + ")";
}

// The same failure: the OS's reason is compared by its number, which is what the device model
// and the scenario know of it.
bool sameFailure(const std::optional<Failure>& a, const std::optional<Failure>& b) {
  if (!a || !b) return !a && !b;
  Failure numbersOnly = *b;
  numbersOnly.error = a->error;
  return *a == numbersOnly && a->error.number == b->error.number;
}

}  // namespace

Snapshot snapshot(const Rig& rig) {
  const SessionState& s = rig.state;
  return {s.transferStep,
          s.quietCheckPending,
          s.currentBlock,
          s.blocksLeft,
          s.firmwareVersionText,
          s.secondVersionText,
          rig.op.messages.size(),
          rig.op.invalidations.size(),
          rig.port.operations.size(),
          s.failure};
}

Invariants::Invariants(const Rig& rig, const Scenario& scenario, const DeviceModel& model)
    : rig_(rig),
      state_(rig.state),
      port_(rig.port),
      op_(rig.op),
      shown_(rig.shown),
      scenario_(scenario),
      model_(model) {}

void Invariants::violation(const std::string& what) {
  if (violations_.empty())
    violations_.push_back("session " + std::to_string(sessionIndex_) + ": " + what);
}

void Invariants::beforeStart(int index) {
  sessionIndex_ = index;
  identified_ = cleanEnd_ = declined_ = false;
  kind_ = nullptr;
  sourceOpen_ = state_.sourceFile.isOpen();
  targetOpen_ = state_.targetFile.isOpen();
  requests_ = op_.fileRequests.size();
  beforeStart_ = snapshot(rig_);
}

void Invariants::sessionStarted() {
  kind_ = kindInfo(state_.dataKind);
  std::error_code error;
  regularFile_ = fs::is_regular_file(state_.fileName, error);
  const bool read = state_.direction == Direction::ReadFromDevice;
  targetSizeAtStart_ = read ? sizeOf(state_.fileName) : 0;
  otherOpenAtStart_ = otherFile().isOpen();
}

unsigned Invariants::blockIndex() const {
  return static_cast<unsigned>(state_.currentBlock - state_.firstBlock);
}

const DataFile& Invariants::directionFile() const {
  return state_.direction == Direction::ReadFromDevice ? state_.targetFile : state_.sourceFile;
}

const DataFile& Invariants::otherFile() const {
  return state_.direction == Direction::ReadFromDevice ? state_.sourceFile : state_.targetFile;
}

// What the engine may start at which step: the WakeUp from the session start, then the
// frames of the exchange in their order, each the right size and content.
void Invariants::checkOperation(const Operation& op, TransferStep s) {
  const bool write = state_.direction == Direction::WriteToDevice;
  auto at = [s] { return " started at step " + std::to_string(stepNumber(s)); };
  if (s == Idle) {
    if (op.isRead || op.written != Bytes{ESC})
      violation("an operation other than the WakeUp" + at());
  } else if (s == AwaitWakeUpSent || s == AwaitCommandSent || s == AwaitDataSent) {
    const std::size_t size = s == AwaitWakeUpSent ? identificationSize : 1;
    if (!op.isRead || op.size != size) violation("not a read of " + std::to_string(size) + at());
  } else if (s == SendCommand) {
    checkBlockCommand(op);
  } else if (s == AwaitCommandAnswer && write) {
    checkDataFrame(op);
  } else if (s == AwaitCommandAnswer) {
    if (!op.isRead || op.size != dataFrameSize) violation("not a data frame read" + at());
  } else {
    violation("an operation" + at());
  }
}

void Invariants::checkBlockCommand(const Operation& op) {
  const std::uint8_t command =
      state_.direction == Direction::WriteToDevice ? WRITE_BLOCK : READ_BLOCK;
  if (op.isRead || op.written.size() != blockCommandSize) {
    violation("step 3 started something else than a block command");
    return;
  }
  const unsigned block = op.written[1] | op.written[2] << 8;
  if (op.written[0] != command || block != state_.currentBlock || byteSum(op.written) != 0)
    violation("block command for block " + std::to_string(block) + " while at block " +
              std::to_string(state_.currentBlock));
}

void Invariants::checkDataFrame(const Operation& op) {
  if (op.isRead || op.written.size() != dataFrameSize || byteSum(op.written) != 0) {
    violation("the data frame sent is not a sealed 257-byte frame");
    return;
  }
  const Block file = model_.fileBlock(blockIndex());
  if (!std::equal(op.written.begin(), op.written.begin() + blockSize, file.begin()))
    violation("the data frame for block " + std::to_string(state_.currentBlock) +
              " is not the file's block");
}

std::optional<FailureKind> Invariants::failedWith() const {
  if (!state_.failure) return std::nullopt;
  return state_.failure->kind;
}

// The failure recorded is the one expected, and the messages shown are the questions asked
// (up to the operator's first No) and then the box worded from that failure, nothing else.
void Invariants::checkFailure(const std::string& where, const std::optional<Failure>& expected,
                              const std::vector<Message>& questions) {
  if (!sameFailure(state_.failure, expected))
    violation(where + " recorded " + describe(state_.failure) + ", not " + describe(expected));
  if (shown_.empty() && questions.empty() && !state_.failure) return;
  std::vector<Message> due;
  for (const Message& q : questions) {
    due.push_back(q);
    if (due.size() <= shown_.size() && shown_[due.size() - 1].answer == Answer::No) break;
  }
  if (state_.failure) due.push_back(failureMessage(*state_.failure));
  std::vector<Message> messages;
  for (const Shown& s : shown_) messages.push_back(s.message);
  if (messages == due) return;
  const auto [got, want] = std::mismatch(messages.begin(), messages.end(), due.begin(), due.end());
  violation(where + " showed " + (got == messages.end() ? "nothing" : "\"" + got->text + "\"") +
            " where " + (want == due.end() ? "nothing" : "\"" + want->text + "\"") + " was due");
}

// The start returns, records, shows and asks what the scenario says, or, where the port refused
// to start the WakeUp, fails with the port's error.
void Invariants::checkStart(StartResult result, StartExpectation e) {
  if (e.result == StartResult::Started) {
    if (const auto refused = model_.refusedStart()) {
      Failure f{.kind = FailureKind::Communication};
      f.error.number = *refused;
      e.result = StartResult::Failed;
      e.outcome = SessionOutcome::Failed;
      e.failure = f;
    }
  }
  if (result != e.result)
    violation("startSession returned " + std::to_string(static_cast<int>(result)) + ", not " +
              std::to_string(static_cast<int>(e.result)));
  if (port_.overlappingStarts != 0) violation("the WakeUp started over an outstanding operation");
  if (state_.transferStep != (result == StartResult::Started ? AwaitWakeUpSent : Idle))
    violation("startSession " + std::to_string(static_cast<int>(result)) + " left step " +
              number(state_.transferStep));
  std::vector<Message> questions;
  if (e.overwriteAsked) questions.push_back(overwriteQuestion(scenario_.fileName()));
  checkFailure("the start", e.failure, questions);
  if (state_.outcome != e.outcome) violation("the start left the wrong outcome");
  const bool chooserAsked = op_.fileRequests.size() > requests_;
  if (chooserAsked != e.chooserAsked) violation("the chooser was asked on Repeat, or not asked");
  if (chooserAsked) checkFileRequest(op_.fileRequests.back());
  if (e.result == StartResult::OutOfRange || config().oddity == Oddity::NoPort) return;
  if (state_.fileName != scenario_.fileName())
    violation("the start holds the name \"" + state_.fileName + "\", not the one chosen");
  if (result == StartResult::Started) checkStarted();
  checkStartFiles(result);
}

// The chooser shows the direction's title and checks, the kind's one filter, and starts
// from the previous choice.
void Invariants::checkFileRequest(const FileRequest& request) {
  const bool read = config().direction == Direction::ReadFromDevice;
  const KindInfo& kind = *kindInfo(config().kind);
  if (request.title != directionInfo(config().direction)->dialogTitle ||
      request.filterDescription != kind.filterDescription ||
      request.filterPattern != kind.filterPattern || request.mustExist == read ||
      request.createPrompt != read || request.defaultExtension != kind.defaultExtension ||
      request.initialName != scenario_.previousName())
    violation("the chooser was asked with the wrong title, filter, checks or name");
}

void Invariants::checkStarted() {
  const KindInfo* kind = kindInfo(state_.dataKind);
  if (state_.currentBlock != kind->firstBlock || state_.firstBlock != kind->firstBlock ||
      state_.blocksLeft != kind->blockCount || state_.sessionKind != state_.dataKind)
    violation("a started session does not stand at its kind's first block");
  if (op_.invalidations.size() == beforeStart_.invalidations ||
      op_.invalidations.back() != Invalidation{Area::Window, true})
    violation("a started session did not repaint the window");
}

// The start opens only the direction's stream, and keeps it open only when it went on to
// the WakeUp.
void Invariants::checkStartFiles(StartResult result) {
  const bool read = state_.direction == Direction::ReadFromDevice;
  const bool otherBefore = read ? sourceOpen_ : targetOpen_;
  const bool ownBefore = read ? targetOpen_ : sourceOpen_;
  if (otherFile().isOpen() != otherBefore) violation("the session start touched the other stream");
  bool ownExpected = ownBefore;
  if (result == StartResult::Started || failedWith() == FailureKind::Communication)
    ownExpected = true;
  else if (failedWith() == FailureKind::FileOpen)
    ownExpected = false;
  if (directionFile().isOpen() != ownExpected)
    violation(std::string("after the start the data file is ") + (ownExpected ? "closed" : "open"));
}

void Invariants::checkStep(TransferStep s, StepResult result, const Snapshot& before,
                           const StepExpectation& expected) {
  const TransferStep t = state_.transferStep;
  if (!validStep(t)) violation("transferStep " + number(t));
  if (result == StepResult::Ignored) {
    violation("the current step " + number(s) + " was ignored");
    return;
  }
  if ((result == StepResult::Waiting) != expected.waits)
    violation("step " + number(s) + (expected.waits ? " did not wait" : " waited") +
              " while the device's answer was " + (expected.waits ? "pending" : "in"));
  if (result == StepResult::Waiting) {
    const Snapshot after = snapshot(rig_);
    if (t != s || after.messages != before.messages ||
        after.invalidations != before.invalidations || after.currentBlock != before.currentBlock ||
        after.blocksLeft != before.blocksLeft || after.failure != before.failure)
      violation("step " + number(s) + " changed something while waiting");
    return;
  }
  if (op_.invalidations.size() == before.invalidations ||
      op_.invalidations.back() != Invalidation{Area::StatusLine, true})
    violation("step " + number(s) + " did not end by invalidating the status line");
  // The step that found the session's end stays current while the line must stay quiet;
  // performed again, it ends the session.
  const bool endFound =
      !before.quietCheck && state_.quietCheckPending && t == s &&
      (s == CountBlock || (s == AwaitDataFrame && state_.direction == Direction::Verify));
  if (before.quietCheck ? t != Idle : !transitionAllowed(s, t, state_.direction) && !endFound)
    violation("step " + number(s) + " went on to " + number(t));
  if (port_.overlappingStarts != 0) violation("an operation started while another was outstanding");
  checkCounters(s, before);
  checkBlockRange();
  checkVersions(s, before);
  checkFailure("step " + number(s), expected.failure, expected.questions);
  checkEnding(s, t);
  checkFiles(s, t);
  if (s == AwaitIdentification && t == SendCommand) identified_ = true;
}

void Invariants::checkCounters(TransferStep s, const Snapshot& before) {
  if (s == CountBlock && !before.quietCheck) {
    if (state_.currentBlock != before.currentBlock + 1 ||
        state_.blocksLeft != before.blocksLeft - 1)
      violation("step 9 did not count exactly one block");
    bool blockLine = false;
    for (std::size_t i = before.invalidations; i < op_.invalidations.size(); ++i)
      blockLine = blockLine || op_.invalidations[i] == Invalidation{Area::BlockLine, true};
    if (!blockLine) violation("step 9 did not repaint the block line");
    return;
  }
  const bool lastBlockMet = s == AwaitCommandAnswer &&
                            state_.direction == Direction::WriteToDevice && state_.blocksLeft == 1;
  if (state_.currentBlock != before.currentBlock ||
      (state_.blocksLeft != before.blocksLeft && !lastBlockMet))
    violation("step " + number(s) + " changed the block counters");
}

void Invariants::checkBlockRange() {
  const KindInfo* kind = kindStartingAt(state_.firstBlock);
  if (kind == nullptr || kind != kind_) {
    violation("firstBlock " + std::to_string(state_.firstBlock) + " is not the session's");
    return;
  }
  const unsigned done = state_.currentBlock - kind->firstBlock;
  if (state_.currentBlock < kind->firstBlock || done > kind->blockCount ||
      state_.blocksLeft > kind->blockCount || done + state_.blocksLeft > kind->blockCount)
    violation("block counters out of range: current " + std::to_string(state_.currentBlock) +
              ", left " + std::to_string(state_.blocksLeft));
  if (sessionRunning(state_.transferStep) && state_.blocksLeft == 0 && !state_.quietCheckPending)
    violation("a running session has no block left");
}

void Invariants::checkVersions(TransferStep s, const Snapshot& before) {
  if (!isVersionText(state_.firmwareVersionText) || !isVersionText(state_.secondVersionText))
    violation("version texts \"" + state_.firmwareVersionText + "\" and \"" +
              state_.secondVersionText + "\"");
  if (s != AwaitIdentification &&
      (state_.firmwareVersionText != before.firmware || state_.secondVersionText != before.second))
    violation("step " + number(s) + " changed the version texts");
}

// A failure ends the session; a session ends without one only after its last block, or
// when a verification met the file's end or was declined.
void Invariants::checkEnding(TransferStep s, TransferStep t) {
  for (const Shown& shown : shown_)
    if (shown.message.buttons == Buttons::YesNo && shown.answer == Answer::No) declined_ = true;
  const bool failed = state_.failure.has_value();
  if (failed && t != Idle) violation("a failure at step " + number(s) + " did not end the session");
  if (t != Idle) return;
  const bool quietEnd =
      s == CountBlock || (s == AwaitDataFrame && state_.direction == Direction::Verify);
  if (!failed && !quietEnd) violation("step " + number(s) + " ended the session without a message");
  cleanEnd_ = !failed && quietEnd && !declined_;
  const SessionOutcome expected = failed      ? SessionOutcome::Failed
                                  : declined_ ? SessionOutcome::Declined
                                              : SessionOutcome::Completed;
  if (state_.outcome != expected) violation("outcome does not match how the session ended");
}

// While a session runs its file is open; when it ends, the file is closed or kept open by
// the step and the way it ended; the other stream is never touched.
void Invariants::checkFiles(TransferStep s, TransferStep t) {
  if (otherFile().isOpen() != otherOpenAtStart_)
    violation("step " + number(s) + " touched the other stream");
  const bool open = directionFile().isOpen();
  if (t != Idle) {
    if (!open) violation("the data file is closed while the session runs at step " + number(t));
    return;
  }
  const bool verify = state_.direction == Direction::Verify;
  bool keep = verify && !declined_;
  if (const auto kind = failedWith())
    keep = (kind == FailureKind::PortError && (s == AwaitIdentification || s == AwaitDataAnswer)) ||
           (kind == FailureKind::FileRead && s == AwaitDataFrame && verify);
  if (open != keep)
    violation("the session ended at step " + number(s) + " with its data file " +
              (open ? "open" : "closed"));
}

void Invariants::checkIgnored(TransferStep stale, StepResult result, const Snapshot& before) {
  const Snapshot after = snapshot(rig_);
  if (result != StepResult::Ignored || after.step != before.step ||
      after.currentBlock != before.currentBlock || after.blocksLeft != before.blocksLeft ||
      after.messages != before.messages || after.invalidations != before.invalidations ||
      after.operations != before.operations || after.failure != before.failure)
    violation("a step message for " + number(stale) + " at step " + number(before.step) +
              " was not ignored");
}

// What the session left in its file: a read's target holds exactly the blocks received
// (an existing one is untouched until the device identified itself); a clean end covered
// all blocks the file or the kind has.
void Invariants::endSession(int lastStep, TransferStep interruptedAt) {
  const unsigned done = blockIndex();
  // A device file has no length to count blocks by, and keeps nothing that was written.
  if (!regularFile_) return;
  if (state_.direction == Direction::ReadFromDevice) checkTarget(done, interruptedAt);
  if (!cleanEnd_ || sessionRunning(state_.transferStep)) return;
  const std::size_t count = kind_->blockCount;
  const std::size_t fileBlocks = std::min(count, model_.source().size() / blockSize + 1);
  std::size_t expected = count;
  if (state_.direction == Direction::WriteToDevice) expected = fileBlocks;
  if (state_.direction == Direction::Verify)
    expected = lastStep == stepNumber(CountBlock) ? count : fileBlocks - 1;
  if (state_.direction == Direction::Verify && lastStep == stepNumber(CountBlock) &&
      model_.source().size() < count * blockSize)
    violation("a verification ran past the end of a short file");
  if (done != expected)
    violation("a complete session did " + std::to_string(done) + " blocks, not " +
              std::to_string(expected));
  checkCompleteExchanges(expected);
}

// A complete write sent every block of its range once and read exactly one sound answer to
// its command and one to its frame, nothing more; a complete read holds every block of the
// kind, each received once in a sound frame with nothing after it.
void Invariants::checkCompleteExchanges(std::size_t expected) {
  if (state_.outcome != SessionOutcome::Completed || state_.direction == Direction::Verify) return;
  const bool write = state_.direction == Direction::WriteToDevice;
  const auto& exchanges = model_.exchanges();
  for (unsigned b = 0; b < expected; ++b) {
    const auto it = exchanges.find(b);
    const Exchange e = it == exchanges.end() ? Exchange{} : it->second;
    const bool sound = write ? e.framesSent == 1 && e.answersRead == 2 && e.soundAnswers == 2
                             : e.answersRead == 1 && e.soundAnswers == 1 && e.soundFrames == 1;
    if (!sound) {
      violation("a complete session's block " + std::to_string(b) + " had " +
                std::to_string(e.framesSent) + " frames sent, " + std::to_string(e.soundAnswers) +
                " of " + std::to_string(e.answersRead) + " answers sound, " +
                std::to_string(e.soundFrames) + " sound frames");
      return;
    }
  }
  if (exchanges.size() > expected) violation("a complete session exchanged blocks past its end");
  if (!write && sizeOf(state_.fileName) != expected * blockSize)
    violation("a complete read's file does not hold every block of the kind");
}

void Invariants::checkTarget(unsigned done, TransferStep interruptedAt) {
  const Bytes content = readWholeFile(state_.fileName);
  if (!identified_) {
    if (content.size() != targetSizeAtStart_)
      violation("a read that never identified the device changed its target");
    return;
  }
  // Interrupted before step 9 counted it, the last block received is already in the file.
  const unsigned written = done + (interruptedAt == CountBlock ? 1 : 0);
  bool same = content.size() == std::size_t{written} * blockSize;
  const auto& delivered = model_.delivered();
  for (unsigned b = 0; same && b < written; ++b) {
    const auto it = delivered.find(b);
    same = it != delivered.end() &&
           std::equal(it->second.begin(), it->second.end(), content.begin() + b * blockSize);
  }
  if (!same)
    violation("the target holds " + std::to_string(content.size()) + " bytes, not the " +
              std::to_string(written) + " blocks received");
}

}  // namespace morva::fuzz
