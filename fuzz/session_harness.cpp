#include "fuzz/session_harness.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "fuzz/device_reply.h"
#include "fuzz/input_format.h"
#include "fuzz/message_texts.h"
#include "platform/posix/file_service.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"
#include "transfer/frames.h"

namespace morva::fuzz {

namespace {

namespace fs = std::filesystem;
using enum TransferStep;

std::string number(TransferStep step) {
  return std::to_string(stepNumber(step));
}
using testing::FakeSerialPort;
using testing::Invalidation;
using testing::Operation;
using testing::RecordingOperator;
using testing::Reply;
using Block = std::array<std::uint8_t, blockSize>;

constexpr int sessionsPerInput = 4;
// Far above the longest session (3200 blocks of six steps, a few pending polls each): a
// session still running after this many steps does not end by itself.
constexpr long stepLimit = 400000;
constexpr int answersBeforeSilence = 4;
constexpr const char* portName = "/dev/ttyFUZZ0";
constexpr std::size_t staleTargetSize = 700;
constexpr std::uint8_t staleTargetByte = 0xA5;

Bytes readWholeFile(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return {};
  Bytes content(size);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(size));
  content.resize(static_cast<std::size_t>(in.gcount()));
  return content;
}

std::uintmax_t sizeOf(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  return error ? 0 : size;
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

// The recording operator, answering questions as the input's configuration says.
class ScriptedOperator : public RecordingOperator {
 public:
  explicit ScriptedOperator(std::function<Answer(const Message&)> decide)
      : decide_(std::move(decide)) {}
  Answer showMessage(const Message& message) override {
    const Answer answer = decide_(message);
    if (message.buttons == Buttons::YesNo) answers.push_back(answer);
    return RecordingOperator::showMessage(message);
  }

 private:
  std::function<Answer(const Message&)> decide_;
};

struct Shown {
  std::optional<RecognisedText> text;
  Answer answer = Answer::Ok;
};

std::optional<Text> textOf(const Shown* shown) {
  if (shown == nullptr || !shown->text) return std::nullopt;
  return shown->text->text;
}

// What a step may not change while it only waits, and what the checks compare against.
struct Snapshot {
  TransferStep step = Idle;
  std::uint16_t currentBlock = 0, blocksLeft = 0;
  std::string firmware, second;
  std::size_t messages = 0, invalidations = 0, operations = 0;
};

class Harness {
 public:
  Harness(std::span<const std::uint8_t> input, fs::path dir)
      : input_(input),
        dir_(std::move(dir)),
        op_([this](const Message& m) { return onMessage(m); }) {}

  RunReport play() {
    port_.open(portName);
    link_.port = &port_;
    state_.files = &files_;
    port_.device = [this](const Operation& op) { return onOperation(op); };
    while (!input_.exhausted() && sessionIndex_ < sessionsPerInput && report_.violations.empty()) {
      config_ = decodeConfig(input_);
      runSession();
      ++sessionIndex_;
    }
    report_.messages = op_.shown();
    return std::move(report_);
  }

 private:
  // ----- One session -----------------------------------------------------------------------

  void runSession() {
    record_ = SessionRecord{config_.direction, config_.kind};
    prepareFile();
    reopenPort();
    state_.direction = config_.direction;
    state_.dataKind = config_.kind;
    // Out-of-range values reach the engine only through a corrupted menu state.
    if (config_.oddity == Oddity::DirectionOutOfRange)
      state_.direction = static_cast<Direction>((config_.seed & 4) != 0 ? -1 : 3);
    if (config_.oddity == Oddity::KindOutOfRange)
      state_.dataKind = static_cast<DataKind>((config_.seed & 4) != 0 ? -1 : 3);
    state_.repeatRequested = config_.repeat;
    answersLeft_ = answersBeforeSilence;
    yesLeft_ = config_.verifyYes;
    delivered_.clear();
    exchanges_.clear();
    identified_ = cleanEnd_ = declined_ = false;
    interruptedAt_ = Idle;
    kind_ = nullptr;

    const bool sourceOpen = state_.sourceFile.isOpen(), targetOpen = state_.targetFile.isOpen();
    const std::size_t requests = op_.fileRequests.size();
    previousName_ = state_.fileName;
    const Snapshot before = snapshot();
    shown_.clear();
    currentStep_ = Idle;
    const StartResult result = startSession(state_, link_, op_);
    state_.repeatRequested = false;
    record_.startResult = static_cast<int>(result);
    checkStart(result, before, sourceOpen, targetOpen, requests);
    if (result == StartResult::Started) beginSession();

    bool restarted = interfere();
    while (!restarted && sessionRunning(state_.transferStep) && report_.violations.empty()) {
      if (report_.steps >= stepLimit) {
        violation("the session did not end within " + std::to_string(stepLimit) + " steps");
        break;
      }
      step();
      restarted = interfere();
    }
    if (result == StartResult::Started && report_.violations.empty()) endSession();
    record_.outcome = state_.outcome;
    record_.blocksDone = static_cast<unsigned>(state_.currentBlock - state_.firstBlock);
    record_.identified = identified_;
    report_.sessions.push_back(record_);
  }

  // The file the chooser will hand over, made as the configuration says.
  void prepareFile() {
    op_.fileChoices.clear();
    if (config_.repeat || config_.cancelChooser) return;
    if (config_.oddity == Oddity::UnusualFile && (config_.seed & 4) != 0) {
      // Typed without an extension, which the chooser does not count as a changed one.
      const bool read = config_.direction == Direction::ReadFromDevice;
      op_.fileChoices.push_back(FileChoice{read ? "/dev/full" : "/proc/self/mem", false});
      return;
    }
    const std::string defaultExtension(kindInfo(config_.kind)->defaultExtension);
    const std::string extension[] = {defaultExtension, "bin", "BiN", "txt"};
    const std::string& chosen = extension[static_cast<int>(config_.name)];
    const fs::path path = dir_ / ("data" + std::to_string(sessionIndex_) + "." + chosen);
    std::string lower = chosen;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(c | 0x20); });
    std::error_code error;
    if (config_.oddity == Oddity::UnusualFile) {
      fs::create_directories(path, error);
    } else if (config_.direction == Direction::ReadFromDevice ? config_.flipExistence
                                                              : !config_.flipExistence) {
      const Bytes content = config_.direction == Direction::ReadFromDevice
                                ? Bytes(staleTargetSize, staleTargetByte)
                                : fileContent();
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(content.data()),
                 static_cast<std::streamsize>(content.size()));
      if (config_.readOnly)
        fs::permissions(
            path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, error);
    }
    op_.fileChoices.push_back(FileChoice{path.string(), lower != defaultExtension});
  }

  std::size_t fileSize() const {
    const std::size_t image = std::size_t{kindInfo(config_.kind)->blockCount} * blockSize;
    const std::size_t sizes[] = {
        0,    300,   512,          blockSize,
        2000, image, image + 1000, (config_.seed % 8u) * blockSize + config_.seed / 8u + 1};
    return sizes[static_cast<int>(config_.size)];
  }

  // How many blocks a read's device answers once the input has run out: the file size
  // stands for the image the device holds, so that most reads stay short.
  std::size_t cooperativeBlocks() const {
    if (state_.direction != Direction::ReadFromDevice || config_.size == FileSize::Full ||
        config_.size == FileSize::FullPlus1000)
      return std::size_t{kindInfo(config_.kind)->blockCount};
    return fileSize() / blockSize + 1;
  }

  Bytes fileContent() const {
    const std::size_t size = fileSize();
    switch (config_.content) {
      case Content::Zeros:
        return Bytes(size, 0);
      case Content::Ones:
        return Bytes(size, 0xFF);
      case Content::Noise:
        return generated(size, config_.seed);
      case Content::Pattern:
        break;
    }
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
      b[i] = static_cast<std::uint8_t>(i * 7 + config_.seed + i / blockSize);
    return b;
  }

  // Before every session the program closes the port and opens it again.
  void reopenPort() {
    port_.close();
    if (config_.oddity != Oddity::NoPort) port_.open(portName);
  }

  void beginSession() {
    kind_ = kindInfo(state_.dataKind);
    source_.clear();
    if (state_.direction != Direction::ReadFromDevice) source_ = readWholeFile(state_.fileName);
    std::error_code error;
    regularFile_ = fs::is_regular_file(state_.fileName, error);
    targetSizeAtStart_ =
        state_.direction == Direction::ReadFromDevice ? sizeOf(state_.fileName) : 0;
    otherOpenAtStart_ = otherFile().isOpen();
  }

  void step() {
    const TransferStep s = state_.transferStep;
    const Snapshot before = snapshot();
    shown_.clear();
    currentStep_ = s;
    quietWait_ = state_.quietCheckPending;
    const StepResult result = performTransferStep(s, state_, link_, op_);
    ++report_.steps;
    if (result != StepResult::Waiting) record_.lastStep = stepNumber(s);
    checkStep(s, result, before);
  }

  // The operator's Stop, a Restart (a new session over the running one) or a stale message,
  // as the last operation's action asked for.
  bool interfere() {
    if (std::exchange(stalePost_, false)) checkStalePost();
    if (stop_ || restart_) interruptedAt_ = state_.transferStep;
    if (std::exchange(stop_, false)) stopSession(state_, link_, op_);
    return std::exchange(restart_, false);
  }

  // ----- The device ------------------------------------------------------------------------

  Reply onOperation(const Operation& op) {
    checkOperation(op);
    const Action action = nextAction();
    stalePost_ = stalePost_ || action.stalePost;
    staleOffset_ = action.arg1 + action.pendingPolls;
    stop_ = stop_ || action.interference == Interference::Stop;
    restart_ = restart_ || action.interference == Interference::Restart;
    Reply reply = replyFor(op, action);
    countExchange(op, reply);
    return reply;
  }

  // What each block's exchange moved: the frames sent, and the answers read with whether each
  // was exactly the one ACK due and came alone.
  void countExchange(const Operation& op, const Reply& reply) {
    if (currentStep_ == Idle || currentStep_ == AwaitWakeUpSent) return;
    Exchange& e = exchanges_[blockIndex()];
    if (!op.isRead && op.size == dataFrameSize) ++e.framesSent;
    if (op.isRead && op.size == 1) {
      ++e.answersRead;
      if (!reply.fails && !reply.startFails && reply.data == Bytes{ACK} && reply.unasked.empty())
        ++e.soundAnswers;
    }
    if (op.isRead && op.size == dataFrameSize && !reply.fails && !reply.startFails &&
        reply.data.size() == dataFrameSize && sumMod256(reply.data) == 0 && reply.unasked.empty())
      ++e.soundFrames;
  }

  Action nextAction() {
    if (!input_.exhausted()) return decodeAction(input_);
    Action a;
    if (config_.tail == Tail::Silent ||
        (config_.tail == Tail::CorrectThenSilent && answersLeft_-- <= 0) ||
        (config_.tail == Tail::Correct && blockIndex() >= cooperativeBlocks()))
      a.mode = Mode::Silent;
    return a;
  }

  Reply replyFor(const Operation& op, const Action& a) {
    const Block memory = op.isRead && op.size == dataFrameSize ? deviceBlock() : Block{};
    Reply r = deviceReply(op, a, memory);
    if (op.size == dataFrameSize && r.data.size() == dataFrameSize && sumMod256(r.data) == 0)
      delivered_[blockIndex()] = Bytes(r.data.begin(), r.data.begin() + blockSize);
    return r;
  }

  // The device's memory at the current block: for a verification the file's block (with one
  // byte changed when the device differs), for a read a pattern of the block number.
  Block deviceBlock() const {
    if (state_.direction == Direction::Verify) {
      Block b = fileBlock();
      if (config_.deviceDiffers) b[(config_.seed + blockIndex() * 31) % blockSize] ^= 0x5A;
      return b;
    }
    Block b;
    for (std::size_t i = 0; i < blockSize; ++i)
      b[i] = static_cast<std::uint8_t>(state_.currentBlock * 29u + i * 3 + config_.seed);
    return b;
  }

  unsigned blockIndex() const {
    return static_cast<unsigned>(state_.currentBlock - state_.firstBlock);
  }

  // The data file's block at the current block, zero-filled past its end.
  Block fileBlock() const {
    Block b{};
    const std::size_t from = std::size_t{blockIndex()} * blockSize;
    if (from < source_.size())
      std::copy_n(source_.begin() + static_cast<std::ptrdiff_t>(from),
                  std::min(blockSize, source_.size() - from), b.begin());
    return b;
  }

  // What the engine may start at which step: the WakeUp from the session start, then the
  // frames of the exchange in their order, each the right size and content.
  void checkOperation(const Operation& op) {
    const TransferStep s = currentStep_;
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

  void checkBlockCommand(const Operation& op) {
    const std::uint8_t command =
        state_.direction == Direction::WriteToDevice ? WRITE_BLOCK : READ_BLOCK;
    if (op.isRead || op.written.size() != blockCommandSize) {
      violation("step 3 started something else than a block command");
      return;
    }
    const unsigned block = op.written[1] | op.written[2] << 8;
    if (op.written[0] != command || block != state_.currentBlock || sumMod256(op.written) != 0)
      violation("block command for block " + std::to_string(block) + " while at block " +
                std::to_string(state_.currentBlock));
  }

  void checkDataFrame(const Operation& op) {
    if (op.isRead || op.written.size() != dataFrameSize || sumMod256(op.written) != 0) {
      violation("the data frame sent is not a sealed 257-byte frame");
      return;
    }
    if (!std::equal(op.written.begin(), op.written.begin() + blockSize, fileBlock().begin()))
      violation("the data frame for block " + std::to_string(state_.currentBlock) +
                " is not the file's block");
  }

  // ----- The operator ----------------------------------------------------------------------

  Answer onMessage(const Message& m) {
    Shown shown;
    shown.text = recognise(m, state_.fileName);
    if (!shown.text) {
      violation("unknown message \"" + m.caption + ": " + m.text + "\"");
    } else if (!allowedAtStep(*shown.text, currentStep_)) {
      violation("message \"" + m.text + "\" at step " + number(currentStep_));
    } else if (shown.text->text == Text::Verification) {
      checkVerificationQuestion(*shown.text);
    }
    if (m.buttons == Buttons::YesNo) shown.answer = answerTo(shown);
    shown_.push_back(shown);
    return shown.answer;
  }

  Answer answerTo(const Shown& shown) {
    if (shown.text && shown.text->text == Text::OverwriteQuestion)
      return config_.overwriteYes ? Answer::Yes : Answer::No;
    if (config_.verifyYes != allQuestionsYes && yesLeft_-- <= 0) return Answer::No;
    ++record_.differencesAccepted;
    return Answer::Yes;
  }

  // The numbers in the question are the block shown from 1, the position, the file's byte
  // and the device's byte, as they are at that moment.
  void checkVerificationQuestion(const RecognisedText& q) {
    if (q.position >= blockSize) return;
    const Block file = fileBlock();
    if (q.block != state_.currentBlock + 1u || q.fileByte != file[q.position] ||
        q.deviceByte != link_.ioBuffer[q.position])
      violation("verification question with wrong numbers at block " +
                std::to_string(state_.currentBlock) + " position " + std::to_string(q.position));
  }

  // ----- Invariants ------------------------------------------------------------------------

  void violation(const std::string& what) {
    if (report_.violations.empty())
      report_.violations.push_back("session " + std::to_string(sessionIndex_) + ": " + what);
  }

  Snapshot snapshot() const {
    return {state_.transferStep,        state_.currentBlock,      state_.blocksLeft,
            state_.firmwareVersionText, state_.secondVersionText, op_.messages.size(),
            op_.invalidations.size(),   port_.operations.size()};
  }

  DataFile& directionFile() {
    return state_.direction == Direction::ReadFromDevice ? state_.targetFile : state_.sourceFile;
  }
  DataFile& otherFile() {
    return state_.direction == Direction::ReadFromDevice ? state_.sourceFile : state_.targetFile;
  }

  const Shown* failShown() const {
    for (const Shown& s : shown_)
      if (s.text && s.text->text != Text::Verification && s.text->text != Text::OverwriteQuestion)
        return &s;
    return nullptr;
  }

  void checkStart(StartResult result, const Snapshot& before, bool sourceOpen, bool targetOpen,
                  std::size_t requests) {
    if (result != StartResult::Started && result != StartResult::Failed &&
        result != StartResult::OutOfRange && result != StartResult::Declined)
      violation("startSession returned " + std::to_string(static_cast<int>(result)));
    if (port_.overlappingStarts != 0) violation("the WakeUp started over an outstanding operation");
    if (state_.transferStep != (result == StartResult::Started ? AwaitWakeUpSent : Idle))
      violation("startSession " + std::to_string(static_cast<int>(result)) + " left step " +
                number(state_.transferStep));
    const Shown* last = shown_.empty() ? nullptr : &shown_.back();
    const bool outOfRange =
        config_.oddity == Oddity::DirectionOutOfRange || config_.oddity == Oddity::KindOutOfRange;
    if (config_.oddity == Oddity::NoPort) {
      if (result != StartResult::Failed || textOf(last) != Text::NoPort)
        violation("a start without a port did not ask for one");
      return;
    }
    if (outOfRange) {
      if (result != StartResult::OutOfRange || !shown_.empty())
        violation("an out-of-range direction or kind was not refused silently");
      return;
    }
    const bool chooserAsked = op_.fileRequests.size() > requests;
    if (chooserAsked == config_.repeat) violation("the chooser was asked on Repeat, or not asked");
    if (chooserAsked) checkFileRequest(op_.fileRequests.back());
    if (result == StartResult::Started) {
      checkStarted(before);
    } else if (result == StartResult::Declined) {
      if (textOf(last) != Text::FileMissing &&
          !(textOf(last) == Text::OverwriteQuestion && last->answer == Answer::No))
        violation("declined start without the missing-file message or a No");
    } else if (last == nullptr && !(config_.cancelChooser && !config_.repeat)) {
      violation("a failed start showed no message");
    }
    checkStartFiles(result, last, sourceOpen, targetOpen);
  }

  // The chooser shows the direction's title and checks, the kind's one filter, and starts
  // from the previous choice.
  void checkFileRequest(const FileRequest& request) {
    const bool read = config_.direction == Direction::ReadFromDevice;
    const KindInfo& kind = *kindInfo(config_.kind);
    if (request.title != directionInfo(config_.direction)->dialogTitle ||
        request.filterDescription != kind.filterDescription ||
        request.filterPattern != kind.filterPattern || request.mustExist == read ||
        request.createPrompt != read || request.defaultExtension != kind.defaultExtension ||
        request.initialName != previousName_)
      violation("the chooser was asked with the wrong title, filter, checks or name");
  }

  void checkStarted(const Snapshot& before) {
    const KindInfo* kind = kindInfo(state_.dataKind);
    if (state_.currentBlock != kind->firstBlock || state_.firstBlock != kind->firstBlock ||
        state_.blocksLeft != kind->blockCount || state_.sessionKind != state_.dataKind)
      violation("a started session does not stand at its kind's first block");
    if (failShown() != nullptr) violation("a started session showed a failure");
    if (op_.invalidations.size() == before.invalidations ||
        op_.invalidations.back() != Invalidation{Area::Window, true})
      violation("a started session did not repaint the window");
  }

  // The start opens only the direction's stream, and keeps it open only when it went on to
  // the WakeUp.
  void checkStartFiles(StartResult result, const Shown* last, bool sourceOpen, bool targetOpen) {
    const bool read = state_.direction == Direction::ReadFromDevice;
    const bool otherBefore = read ? sourceOpen : targetOpen;
    const bool ownBefore = read ? targetOpen : sourceOpen;
    if (otherFile().isOpen() != otherBefore)
      violation("the session start touched the other stream");
    bool ownExpected = ownBefore;
    if (result == StartResult::Started || textOf(last) == Text::CommunicationError)
      ownExpected = true;
    else if (textOf(last) == Text::OpenError)
      ownExpected = false;
    if (directionFile().isOpen() != ownExpected)
      violation(std::string("after the start the data file is ") +
                (ownExpected ? "closed" : "open"));
  }

  void checkStep(TransferStep s, StepResult result, const Snapshot& before) {
    const TransferStep t = state_.transferStep;
    if (!validStep(t)) violation("transferStep " + number(t));
    if (result == StepResult::Ignored) {
      violation("the current step " + number(s) + " was ignored");
      return;
    }
    if (result == StepResult::Waiting) {
      const Snapshot after = snapshot();
      if (t != s || after.messages != before.messages ||
          after.invalidations != before.invalidations ||
          after.currentBlock != before.currentBlock || after.blocksLeft != before.blocksLeft)
        violation("step " + number(s) + " changed something while waiting");
      return;
    }
    if (op_.invalidations.size() == before.invalidations ||
        op_.invalidations.back() != Invalidation{Area::StatusLine, true})
      violation("step " + number(s) + " did not end by invalidating the status line");
    // The step that found the session's end stays current while the line must stay quiet;
    // performed again, it ends the session.
    const bool endFound =
        !quietWait_ && state_.quietCheckPending && t == s &&
        (s == CountBlock || (s == AwaitDataFrame && state_.direction == Direction::Verify));
    if (quietWait_ ? t != Idle : !transitionAllowed(s, t, state_.direction) && !endFound)
      violation("step " + number(s) + " went on to " + number(t));
    if (port_.overlappingStarts != 0)
      violation("an operation started while another was outstanding");
    checkCounters(s, before);
    checkBlockRange();
    checkVersions(s, before);
    checkStepMessages(s, t);
    if (s == AwaitDataFrame && state_.direction == Direction::Verify && failShown() == nullptr &&
        !quietWait_)
      checkComparison();
    checkFiles(s, t);
    if (s == AwaitIdentification && t == SendCommand) identified_ = true;
  }

  void checkCounters(TransferStep s, const Snapshot& before) {
    if (s == CountBlock && !quietWait_) {
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
                              state_.direction == Direction::WriteToDevice &&
                              state_.blocksLeft == 1;
    if (state_.currentBlock != before.currentBlock ||
        (state_.blocksLeft != before.blocksLeft && !lastBlockMet))
      violation("step " + number(s) + " changed the block counters");
  }

  void checkBlockRange() {
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

  void checkVersions(TransferStep s, const Snapshot& before) {
    if (!isVersionText(state_.firmwareVersionText) || !isVersionText(state_.secondVersionText))
      violation("version texts \"" + state_.firmwareVersionText + "\" and \"" +
                state_.secondVersionText + "\"");
    if (s != AwaitIdentification && (state_.firmwareVersionText != before.firmware ||
                                     state_.secondVersionText != before.second))
      violation("step " + number(s) + " changed the version texts");
  }

  // One failure box at most per step, and it ends the session; a session ends without one
  // only after its last block, or when a verification met the file's end or was declined.
  void checkStepMessages(TransferStep s, TransferStep t) {
    int failures = 0;
    for (const Shown& shown : shown_) {
      if (!shown.text) continue;
      if (shown.text->text == Text::Verification) {
        if (state_.direction != Direction::Verify)
          violation("a verification question outside a verify");
        if (shown.answer == Answer::No) declined_ = true;
      } else {
        ++failures;
      }
    }
    if (failures > 1) violation("step " + number(s) + " showed several failures");
    if (failures == 1 && t != Idle)
      violation("a failure at step " + number(s) + " did not end the session");
    if (t != Idle) return;
    const bool quietEnd =
        s == CountBlock || (s == AwaitDataFrame && state_.direction == Direction::Verify);
    if (failures == 0 && !quietEnd)
      violation("step " + number(s) + " ended the session without a message");
    cleanEnd_ = failures == 0 && quietEnd && !declined_;
    const SessionOutcome expected = failures != 0 ? SessionOutcome::Failed
                                    : declined_   ? SessionOutcome::Declined
                                                  : SessionOutcome::Completed;
    if (state_.outcome != expected) violation("outcome does not match how the session ended");
  }

  // Every difference between the file's block and the device's is asked about, in order,
  // until the first No.
  void checkComparison() {
    std::vector<unsigned> differences;
    const Block file = fileBlock();
    for (unsigned pos = 0; pos < blockSize; ++pos)
      if (file[pos] != link_.ioBuffer[pos]) differences.push_back(pos);
    std::vector<unsigned> asked;
    for (const Shown& s : shown_)
      if (s.text && s.text->text == Text::Verification) asked.push_back(s.text->position);
    const bool stopped = !shown_.empty() && shown_.back().answer == Answer::No;
    if (!stopped && asked.size() != differences.size())
      violation("a verification asked " + std::to_string(asked.size()) + " questions for " +
                std::to_string(differences.size()) + " differences");
    if (!std::equal(asked.begin(), asked.end(), differences.begin(), differences.end()) &&
        !(stopped && asked.size() <= differences.size() &&
          std::equal(asked.begin(), asked.end(), differences.begin())))
      violation("verification questions not in the order of the differences");
  }

  // While a session runs its file is open; when it ends, the file is closed or kept open by
  // the step and the way it ended; the other stream is never touched.
  void checkFiles(TransferStep s, TransferStep t) {
    if (otherFile().isOpen() != otherOpenAtStart_)
      violation("step " + number(s) + " touched the other stream");
    const bool open = directionFile().isOpen();
    if (t != Idle) {
      if (!open) violation("the data file is closed while the session runs at step " + number(t));
      return;
    }
    const bool verify = state_.direction == Direction::Verify;
    bool keep = false;
    if (const Shown* failure = failShown()) {
      const Text f = failure->text->text;
      keep = (f == Text::ErrorCode && (s == AwaitIdentification || s == AwaitDataAnswer)) ||
             (f == Text::ReadError && s == AwaitDataFrame && verify);
    } else {
      keep = verify && !declined_;
    }
    if (open != keep)
      violation("the session ended at step " + number(s) + " with its data file " +
                (open ? "open" : "closed"));
  }

  void checkStalePost() {
    const TransferStep current = state_.transferStep;
    const auto stale = static_cast<TransferStep>((stepNumber(current) + 1 + staleOffset_ % 3) % 11);
    const Snapshot before = snapshot();
    const StepResult result = performTransferStep(stale, state_, link_, op_);
    const Snapshot after = snapshot();
    if (result != StepResult::Ignored || after.step != before.step ||
        after.currentBlock != before.currentBlock || after.blocksLeft != before.blocksLeft ||
        after.messages != before.messages || after.invalidations != before.invalidations ||
        after.operations != before.operations)
      violation("a step message for " + number(stale) + " at step " + number(current) +
                " was not ignored");
  }

  // What the session left in its file: a read's target holds exactly the blocks received
  // (an existing one is untouched until the device identified itself); a clean end covered
  // all blocks the file or the kind has.
  void endSession() {
    const unsigned done = blockIndex();
    // A device file has no length to count blocks by, and keeps nothing that was written.
    if (!regularFile_) return;
    if (state_.direction == Direction::ReadFromDevice) checkTarget(done);
    if (!cleanEnd_ || sessionRunning(state_.transferStep)) return;
    const std::size_t count = kind_->blockCount;
    const std::size_t fileBlocks = std::min(count, source_.size() / blockSize + 1);
    std::size_t expected = count;
    if (state_.direction == Direction::WriteToDevice) expected = fileBlocks;
    if (state_.direction == Direction::Verify)
      expected = record_.lastStep == stepNumber(CountBlock) ? count : fileBlocks - 1;
    if (state_.direction == Direction::Verify && record_.lastStep == stepNumber(CountBlock) &&
        source_.size() < count * blockSize)
      violation("a verification ran past the end of a short file");
    if (done != expected)
      violation("a complete session did " + std::to_string(done) + " blocks, not " +
                std::to_string(expected));
    checkCompleteExchanges(expected);
  }

  // A complete write sent every block of its range once and read exactly one sound answer to
  // its command and one to its frame, nothing more; a complete read holds every block of the
  // kind, each received once in a sound frame with nothing after it.
  void checkCompleteExchanges(std::size_t expected) {
    if (state_.outcome != SessionOutcome::Completed || state_.direction == Direction::Verify)
      return;
    const bool write = state_.direction == Direction::WriteToDevice;
    for (unsigned b = 0; b < expected; ++b) {
      const Exchange& e = exchanges_[b];
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
    if (exchanges_.size() > expected) violation("a complete session exchanged blocks past its end");
    if (!write && sizeOf(state_.fileName) != expected * blockSize)
      violation("a complete read's file does not hold every block of the kind");
  }

  void checkTarget(unsigned done) {
    const Bytes content = readWholeFile(state_.fileName);
    if (!identified_) {
      if (content.size() != targetSizeAtStart_)
        violation("a read that never identified the device changed its target");
      return;
    }
    // Interrupted before step 9 counted it, the last block received is already in the file.
    const unsigned written = done + (interruptedAt_ == CountBlock ? 1 : 0);
    bool same = content.size() == std::size_t{written} * blockSize;
    for (unsigned b = 0; same && b < written; ++b) {
      const auto it = delivered_.find(b);
      same = it != delivered_.end() &&
             std::equal(it->second.begin(), it->second.end(), content.begin() + b * blockSize);
    }
    if (!same)
      violation("the target holds " + std::to_string(content.size()) + " bytes, not the " +
                std::to_string(written) + " blocks received");
  }

  Input input_;
  fs::path dir_;
  SessionState state_;
  LinkPort link_;
  FakeSerialPort port_;
  PosixFileService files_;
  ScriptedOperator op_;
  RunReport report_;

  SessionConfig config_;
  SessionRecord record_;
  int sessionIndex_ = 0;
  TransferStep currentStep_ = Idle;
  const KindInfo* kind_ = nullptr;
  Bytes source_;
  std::string previousName_;             // fileName before the session's start
  bool regularFile_ = true;              // the session's data file is not a device
  std::map<unsigned, Bytes> delivered_;  // blocks sent in valid frames, by index in the session
  struct Exchange {
    unsigned framesSent = 0, answersRead = 0, soundAnswers = 0, soundFrames = 0;
  };
  std::map<unsigned, Exchange> exchanges_;  // by index in the session
  bool quietWait_ = false;                  // the step performed waits for a quiet line
  std::uintmax_t targetSizeAtStart_ = 0;
  bool otherOpenAtStart_ = false;
  bool identified_ = false, cleanEnd_ = false, declined_ = false;
  TransferStep interruptedAt_ = Idle;  // the step at which the operator stopped or restarted
  int answersLeft_ = 0, yesLeft_ = 0;
  std::vector<Shown> shown_;  // during the current step or start
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
