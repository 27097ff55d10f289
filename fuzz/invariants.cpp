#include "fuzz/session_harness.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "fuzz/device_reply.h"
#include "fuzz/input_format.h"
#include "platform/posix/file_service.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"
#include "transfer/frames.h"
#include "transfer/wording.h"

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
// The device files a session may be handed: a disk that is always full, and the harness's own
// memory, which has nothing at offset 0 to read or write.
constexpr const char* fullDisk = "/dev/full";
constexpr const char* ownMemory = "/proc/self/mem";

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

// The frames' arithmetic, done here again rather than taken from the engine under test.
std::uint8_t byteSum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

// ----- The scenario: what a session is asked to do --------------------------------------

std::size_t fileSize(const SessionConfig& config) {
  const std::size_t image = std::size_t{kindInfo(config.kind)->blockCount} * blockSize;
  const std::size_t sizes[] = {
      0,    300,   512,          blockSize,
      2000, image, image + 1000, (config.seed % 8u) * blockSize + config.seed / 8u + 1};
  return sizes[static_cast<int>(config.size)];
}

Bytes fileContent(const SessionConfig& config) {
  const std::size_t size = fileSize(config);
  switch (config.content) {
    case Content::Zeros:
      return Bytes(size, 0);
    case Content::Ones:
      return Bytes(size, 0xFF);
    case Content::Noise:
      return generated(size, config.seed);
    case Content::Pattern:
      break;
  }
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i)
    b[i] = static_cast<std::uint8_t>(i * 7 + config.seed + i / blockSize);
  return b;
}

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20 : c); });
  return text;
}

// The text after the last dot of the file's own name, in lowercase; empty without a dot.
std::string extensionOf(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : lowercase(name.substr(dot + 1));
}

// What the OS does with a data file a session may be handed.
struct FileFacts {
  bool exists = false;
  bool folder = false;
  bool device = false;  // a character device: no file to read from
  bool writeProtected = false;
  bool parentMissing = false;  // no folder to create it in
  int readError = 0;           // what every read of a block fails with; 0: reads work
  int writeError = 0;          // the same for writes
};

FileFacts factsOf(const std::string& path) {
  if (path == fullDisk) return {.exists = true, .device = true, .writeError = ENOSPC};
  if (path == ownMemory) return {.exists = true, .readError = EIO, .writeError = EIO};
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  constexpr auto writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  FileFacts facts;
  facts.exists = fs::exists(status);
  facts.folder = fs::is_directory(status);
  facts.writeProtected = facts.exists && (status.permissions() & writable) == fs::perms::none;
  facts.parentMissing = !fs::is_directory(fs::path(path).parent_path(), error);
  return facts;
}

// How a session start must end: what it returns, the outcome and the failure it records, and
// whom it asks.
struct StartExpectation {
  StartResult result = StartResult::Started;
  SessionOutcome outcome = SessionOutcome::Running;
  std::optional<Failure> failure;
  bool chooserAsked = false;
  bool overwriteAsked = false;
};

// The sessions of one input as the operator asks for them: each one's configuration, the data
// file made for it, the chooser's answer and the answers to the questions. It keeps the name
// the sessions hold from one to the next, as the program does.
class Scenario {
 public:
  explicit Scenario(fs::path dir) : dir_(std::move(dir)) {}

  // Begins session `index`: makes its data file; the chooser's answer is choice().
  void prepare(const SessionConfig& config, int index) {
    config_ = config;
    previousName_ = fileName_;
    yesLeft_ = config.verifyYes;
    accepted_ = 0;
    choice_ = makeFile(index);
  }
  const SessionConfig& config() const { return config_; }
  const std::optional<FileChoice>& choice() const { return choice_; }
  const std::string& previousName() const { return previousName_; }
  // The data file's name once the start has taken the chooser's answer.
  const std::string& fileName() const { return fileName_; }
  unsigned differencesAccepted() const { return accepted_; }

  // What the start must conclude from the port, the names, the files and the operator's
  // answers (a refused WakeUp is the device's part). Once for each session, before its start.
  StartExpectation expectStart() {
    using R = StartResult;
    if (config_.oddity == Oddity::NoPort)
      return refused(R::Failed, Failure{.kind = FailureKind::NoPort});
    if (config_.oddity == Oddity::DirectionOutOfRange || config_.oddity == Oddity::KindOutOfRange)
      return refused(R::OutOfRange, std::nullopt);
    StartExpectation e;
    e.chooserAsked = !config_.repeat;
    if (e.chooserAsked) {
      if (!choice_) return refused(R::Failed, std::nullopt, e);
      fileName_ = choice_->path;
      chosenFor_ = config_.kind;
      if (!extensionAccepted(choice_->extensionDifferent))
        return refused(R::Failed, fileFailure(FailureKind::ExtensionChanged), e);
    } else if (repeatNeedsExtensionCheck() &&
               !extensionAccepted(extensionOf(fileName_) !=
                                  kindInfo(config_.kind)->defaultExtension)) {
      return refused(R::Failed, fileFailure(FailureKind::ExtensionChanged), e);
    }
    return expectFileChecks(e);
  }

  // At the start the question is whether to overwrite; during a step, whether to go on after
  // a difference.
  Answer answer(bool atStart) {
    if (atStart) return config_.overwriteYes ? Answer::Yes : Answer::No;
    if (config_.verifyYes != allQuestionsYes && yesLeft_-- <= 0) return Answer::No;
    ++accepted_;
    return Answer::Yes;
  }

 private:
  // The file the chooser will hand over, made as the configuration says.
  std::optional<FileChoice> makeFile(int index) const {
    if (config_.repeat || config_.cancelChooser) return std::nullopt;
    if (config_.oddity == Oddity::UnusualFile && (config_.seed & 4) != 0) {
      // Typed without an extension, which the chooser does not count as a changed one.
      const bool read = config_.direction == Direction::ReadFromDevice;
      return FileChoice{read ? fullDisk : ownMemory, false};
    }
    const std::string defaultExtension(kindInfo(config_.kind)->defaultExtension);
    const std::string extension[] = {defaultExtension, "bin", "BiN", "txt"};
    const std::string& chosen = extension[static_cast<int>(config_.name)];
    const fs::path path = dir_ / ("data" + std::to_string(index) + "." + chosen);
    std::error_code error;
    if (config_.oddity == Oddity::UnusualFile) {
      fs::create_directories(path, error);
    } else if (config_.direction == Direction::ReadFromDevice ? config_.flipExistence
                                                              : !config_.flipExistence) {
      const Bytes content = config_.direction == Direction::ReadFromDevice
                                ? Bytes(staleTargetSize, staleTargetByte)
                                : fileContent(config_);
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(content.data()),
                 static_cast<std::streamsize>(content.size()));
      if (config_.readOnly)
        fs::permissions(
            path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, error);
    }
    return FileChoice{path.string(), lowercase(chosen) != defaultExtension};
  }

  // A name whose extension is not the kind's is refused, but a user-data image as ".bin".
  bool extensionAccepted(bool extensionDifferent) const {
    return !extensionDifferent ||
           (config_.kind == DataKind::UserData && extensionOf(fileName_) == "bin");
  }

  // A write repeated into another kind than the one its file was chosen for.
  bool repeatNeedsExtensionCheck() const {
    return config_.direction == Direction::WriteToDevice && chosenFor_ &&
           *chosenFor_ != config_.kind;
  }

  // A write's or a verification's file must exist and be a file; a read's target is asked
  // about when it exists, must not be write-protected, and must be a file or a device.
  StartExpectation expectFileChecks(StartExpectation e) const {
    using R = StartResult;
    const FileFacts facts = factsOf(fileName_);
    if (config_.direction != Direction::ReadFromDevice) {
      if (!facts.exists) return refused(R::Declined, fileFailure(FailureKind::FileMissing), e);
      if (facts.folder || facts.device) return refused(R::Failed, openFailure(0), e);
      return e;
    }
    e.overwriteAsked = facts.exists;
    if (facts.exists && !config_.overwriteYes)
      return refused(R::Declined, std::nullopt, e, SessionOutcome::Declined);
    if (facts.writeProtected)
      return refused(R::Failed, fileFailure(FailureKind::WriteAccessDenied), e);
    if (facts.folder) return refused(R::Failed, openFailure(0), e);
    if (!facts.exists && facts.parentMissing) return refused(R::Failed, openFailure(ENOENT), e);
    return e;
  }

  Failure fileFailure(FailureKind kind) const { return Failure{.kind = kind, .path = fileName_}; }
  Failure openFailure(int error) const {
    Failure f = fileFailure(FailureKind::FileOpen);
    f.error.number = error;
    return f;
  }

  static StartExpectation refused(StartResult result, std::optional<Failure> failure,
                                  StartExpectation e = {},
                                  SessionOutcome outcome = SessionOutcome::Failed) {
    e.result = result;
    e.failure = std::move(failure);
    e.outcome = outcome;
    return e;
  }

  fs::path dir_;
  SessionConfig config_;
  std::optional<FileChoice> choice_;
  std::string fileName_, previousName_;
  std::optional<DataKind> chosenFor_;  // the kind the chooser last gave a file for
  int yesLeft_ = 0;
  unsigned accepted_ = 0;
};

// The recording operator, answering questions as the scenario says.
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

// ----- The device model: what the device answers and what it then holds ------------------

// What a step must do with what the device answered and what the line holds.
struct StepExpectation {
  bool waits = false;              // the operation it polls is still pending
  std::optional<Failure> failure;  // the session fails here, with this
  std::vector<Message> questions;  // a verification's, one for each difference, in order
};

// What each block's exchange moved: the frames sent, and the answers read with whether each
// was exactly the one ACK due and came alone.
struct Exchange {
  unsigned framesSent = 0, answersRead = 0, soundAnswers = 0, soundFrames = 0;
};

class DeviceModel {
 public:
  explicit DeviceModel(Input& input) : input_(input) {}

  void beginSession(const SessionConfig& config) {
    config_ = config;
    kind_ = kindInfo(config.kind);
    answersLeft_ = answersBeforeSilence;
    block_.reset();
    outstanding_ = {};
    delivered_.clear();
    exchanges_.clear();
    file_ = {};
    source_.clear();
  }
  // The session's data file as it started: a write's or a verification's blocks.
  void setFile(std::string path, FileFacts facts, Bytes source) {
    path_ = std::move(path);
    file_ = facts;
    source_ = std::move(source);
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

  // The device's answer to an operation the engine started, shaped by the input's action.
  Reply answer(const Operation& op, const Action& action) {
    const Block memory = op.isRead && op.size == dataFrameSize ? memoryAt(blockIndex()) : Block{};
    Reply r = deviceReply(op, action, memory);
    if (op.size == dataFrameSize && r.data.size() == dataFrameSize && byteSum(r.data) == 0)
      delivered_[blockIndex()] = Bytes(r.data.begin(), r.data.begin() + blockSize);
    countExchange(op, r);
    outstanding_ = {op, r};
    pollsLeft_ = r.pendingPolls;
    return r;
  }

  // Takes a block command's number as the block the device now exchanges; called for every
  // operation before its action is taken.
  void noteCommand(const Operation& op) {
    if (!op.isRead && op.written.size() == blockCommandSize)
      block_ = static_cast<std::uint16_t>(op.written[1] | op.written[2] << 8);
  }

  // The error the port refused the last start with (the WakeUp's, at a session start).
  std::optional<int> refusedStart() const {
    if (!outstanding_.reply.startFails) return std::nullopt;
    return outstanding_.reply.error;
  }

  // What step `step` must do, from the answer to the operation it polls and `stray`, the
  // first byte the line holds that nobody asked for. Once for each step performed, before it.
  StepExpectation expect(TransferStep step, bool quietWait, std::optional<std::uint8_t> stray) {
    StepExpectation e;
    if (quietWait) {  // the wait after the last answer takes whatever follows it
      if (stray) e.failure = strayFailure(FailureKind::Transmission, *stray);
    } else if (step == SendCommand) {
      if (stray) e.failure = strayFailure(FailureKind::Acknowledgment, *stray);
    } else if (step != CountBlock) {
      expectPolled(step, stray, e);
    }
    if (e.failure) e.failure->step = step;
    return e;
  }

  // The data file's block `index`, zero-filled past its end.
  Block fileBlock(unsigned index) const {
    Block b{};
    const std::size_t from = std::size_t{index} * blockSize;
    if (from < source_.size())
      std::copy_n(source_.begin() + static_cast<std::ptrdiff_t>(from),
                  std::min(blockSize, source_.size() - from), b.begin());
    return b;
  }
  const Bytes& source() const { return source_; }
  // The blocks the device sent in sound frames, by their index in the session.
  const std::map<unsigned, Bytes>& delivered() const { return delivered_; }
  const std::map<unsigned, Exchange>& exchanges() const { return exchanges_; }

 private:
  struct Started {
    Operation op;
    Reply reply;
  };

  unsigned blockIndex() const { return block_ ? *block_ - kind_->firstBlock : 0; }

  // How many blocks a read's device answers once the input has run out: the file size
  // stands for the image the device holds, so that most reads stay short.
  std::size_t cooperativeBlocks() const {
    if (config_.direction != Direction::ReadFromDevice || config_.size == FileSize::Full ||
        config_.size == FileSize::FullPlus1000)
      return std::size_t{kind_->blockCount};
    return fileSize(config_) / blockSize + 1;
  }

  // The device's memory at block `index`: for a verification the file's block (with one byte
  // changed when the device differs), for a read a pattern of the block number.
  Block memoryAt(unsigned index) const {
    if (config_.direction == Direction::Verify) {
      Block b = fileBlock(index);
      if (config_.deviceDiffers) b[(config_.seed + index * 31) % blockSize] ^= 0x5A;
      return b;
    }
    Block b;
    const unsigned block = kind_->firstBlock + index;
    for (std::size_t i = 0; i < blockSize; ++i)
      b[i] = static_cast<std::uint8_t>(block * 29u + i * 3 + config_.seed);
    return b;
  }

  void countExchange(const Operation& op, const Reply& reply) {
    if (!block_) return;
    Exchange& e = exchanges_[blockIndex()];
    if (!op.isRead && op.size == dataFrameSize) ++e.framesSent;
    if (op.isRead && op.size == 1) {
      ++e.answersRead;
      if (!reply.fails && !reply.startFails && reply.data == Bytes{ACK} && reply.unasked.empty())
        ++e.soundAnswers;
    }
    if (op.isRead && op.size == dataFrameSize && !reply.fails && !reply.startFails &&
        reply.data.size() == dataFrameSize && byteSum(reply.data) == 0 && reply.unasked.empty())
      ++e.soundFrames;
  }

  // A step that polls: it waits while the operation is pending (a refused start fails at the
  // first poll), fails with the port's error, and then judges what a read brought.
  void expectPolled(TransferStep step, std::optional<std::uint8_t> stray, StepExpectation& e) {
    const Reply& r = outstanding_.reply;
    if (!r.startFails && pollsLeft_ > 0) {
      --pollsLeft_;
      e.waits = true;
    } else if (r.fails || r.startFails) {
      Failure f{.kind = FailureKind::PortError};
      f.error.number = r.error;
      e.failure = f;
    } else if (outstanding_.op.isRead) {
      judgeRead(step, stray ? stray : firstOf(r.unasked), e);
    }
  }

  static std::optional<std::uint8_t> firstOf(const Bytes& bytes) {
    if (bytes.empty()) return std::nullopt;
    return bytes.front();
  }

  void judgeRead(TransferStep step, std::optional<std::uint8_t> stray, StepExpectation& e) const {
    const Bytes& d = outstanding_.reply.data;
    const bool write = config_.direction == Direction::WriteToDevice;
    if (step == AwaitIdentification) {
      e.failure = identificationFailure(d);
    } else if (step == AwaitCommandAnswer) {
      e.failure = oneByteFailure(FailureKind::Acknowledgment, d);
      // The ACK came twice: the copy would be taken for the frame's answer.
      if (!e.failure && write && stray) e.failure = strayFailure(FailureKind::Transmission, *stray);
      if (!e.failure && write && file_.readError) e.failure = fileFailure(FailureKind::FileRead);
    } else if (step == AwaitDataAnswer) {
      e.failure = oneByteFailure(FailureKind::Transmission, d);
    } else if (step == AwaitDataFrame) {
      judgeFrame(d, e);
    }
  }

  void judgeFrame(const Bytes& d, StepExpectation& e) const {
    Failure f{.kind = FailureKind::Transmission, .answer = AnswerFault::NoData, .count = d.size()};
    if (d.size() != dataFrameSize) {
      e.failure = f;
    } else if (const std::uint8_t residue = byteSum(d); residue != 0) {
      f.answer = AnswerFault::Checksum;
      f.count = 0;
      f.byte = residue;
      e.failure = f;
    } else if (config_.direction == Direction::ReadFromDevice) {
      if (file_.writeError) e.failure = fileFailure(FailureKind::FileWrite);
    } else if (file_.readError) {
      e.failure = fileFailure(FailureKind::FileRead);
    } else {
      const Block file = fileBlock(blockIndex());
      for (std::size_t pos = 0; pos < blockSize; ++pos)
        if (file[pos] != d[pos])
          e.questions.push_back(differenceQuestion(*block_ + 1u, pos, file[pos], d[pos]));
    }
  }

  // Six bytes, the answer byte ACK (a refusal outranks a checksum), the versions' sum sealed.
  static std::optional<Failure> identificationFailure(const Bytes& d) {
    Failure f{.kind = FailureKind::Initialization, .answer = AnswerFault::NoData};
    if (d.size() != identificationSize) {
      f.count = d.size();
      return f;
    }
    if (d[5] != ACK) return oneByteFailure(f.kind, Bytes{d[5]});
    const std::uint8_t residue = byteSum(std::span(d).first(identificationSize - 1));
    if (residue == 0) return std::nullopt;
    f.answer = AnswerFault::Checksum;
    f.byte = residue;
    return f;
  }

  static std::optional<Failure> oneByteFailure(FailureKind kind, const Bytes& d) {
    if (d == Bytes{ACK}) return std::nullopt;
    Failure f{.kind = kind, .answer = AnswerFault::NoData, .count = d.size()};
    if (d == Bytes{NAK}) {
      f.answer = AnswerFault::Nak;
      f.count = 0;
    } else if (d.size() == 1) {
      f.answer = AnswerFault::IllegalByte;
      f.count = 0;
      f.byte = d[0];
    }
    return f;
  }

  static Failure strayFailure(FailureKind kind, std::uint8_t byte) {
    return Failure{.kind = kind, .answer = AnswerFault::IllegalByte, .byte = byte};
  }

  Failure fileFailure(FailureKind kind) const {
    Failure f{.kind = kind, .path = path_};
    f.error.number = kind == FailureKind::FileRead ? file_.readError : file_.writeError;
    return f;
  }

  Input& input_;
  SessionConfig config_;
  const KindInfo* kind_ = nullptr;
  int answersLeft_ = 0;
  std::optional<std::uint16_t> block_;  // the block of the last command the device received
  Started outstanding_;                 // the last operation started, and its answer
  int pollsLeft_ = 0;                   // polls it stays pending
  std::string path_;
  FileFacts file_;
  Bytes source_;
  std::map<unsigned, Bytes> delivered_;
  std::map<unsigned, Exchange> exchanges_;
};

// ----- The invariants: what is checked after each step ------------------------------------

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

// A message shown, and the operator's answer to it.
struct Shown {
  Message message;
  Answer answer = Answer::Ok;
};

// What a step may not change while it only waits, and what the checks compare against.
struct Snapshot {
  TransferStep step = Idle;
  std::uint16_t currentBlock = 0, blocksLeft = 0;
  std::string firmware, second;
  std::size_t messages = 0, invalidations = 0, operations = 0;
  std::optional<Failure> failure;
};

class Harness {
 public:
  Harness(std::span<const std::uint8_t> input, fs::path dir)
      : input_(input),
        scenario_(std::move(dir)),
        model_(input_),
        op_([this](const Message& m) { return onMessage(m); }) {}

  RunReport play() {
    port_.open(portName);
    link_.port = &port_;
    state_.files = &files_;
    port_.device = [this](const Operation& op) { return onOperation(op); };
    while (!input_.exhausted() && sessionIndex_ < sessionsPerInput && report_.violations.empty()) {
      scenario_.prepare(decodeConfig(input_), sessionIndex_);
      runSession();
      ++sessionIndex_;
    }
    report_.messages = op_.shown();
    return std::move(report_);
  }

 private:
  const SessionConfig& config() const { return scenario_.config(); }

  // ----- One session -----------------------------------------------------------------------

  void runSession() {
    record_ = SessionRecord{config().direction, config().kind};
    op_.fileChoices.clear();
    if (scenario_.choice()) op_.fileChoices.push_back(*scenario_.choice());
    reopenPort();
    state_.direction = config().direction;
    state_.dataKind = config().kind;
    // Out-of-range values reach the engine only through a corrupted menu state.
    if (config().oddity == Oddity::DirectionOutOfRange)
      state_.direction = static_cast<Direction>((config().seed & 4) != 0 ? -1 : 3);
    if (config().oddity == Oddity::KindOutOfRange)
      state_.dataKind = static_cast<DataKind>((config().seed & 4) != 0 ? -1 : 3);
    state_.repeatRequested = config().repeat;
    model_.beginSession(config());
    identified_ = cleanEnd_ = declined_ = false;
    interruptedAt_ = Idle;
    kind_ = nullptr;

    const bool sourceOpen = state_.sourceFile.isOpen(), targetOpen = state_.targetFile.isOpen();
    const std::size_t requests = op_.fileRequests.size();
    StartExpectation expected = scenario_.expectStart();
    const Snapshot before = snapshot();
    shown_.clear();
    currentStep_ = Idle;
    const StartResult result = startSession(state_, link_, op_);
    state_.repeatRequested = false;
    record_.startResult = static_cast<int>(result);
    checkStart(result, expected, before, sourceOpen, targetOpen, requests);
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
    record_.differencesAccepted = scenario_.differencesAccepted();
    report_.sessions.push_back(record_);
  }

  // Before every session the program closes the port and opens it again.
  void reopenPort() {
    port_.close();
    if (config().oddity != Oddity::NoPort) port_.open(portName);
  }

  void beginSession() {
    kind_ = kindInfo(state_.dataKind);
    const bool read = state_.direction == Direction::ReadFromDevice;
    model_.setFile(state_.fileName, factsOf(state_.fileName),
                   read ? Bytes{} : readWholeFile(state_.fileName));
    std::error_code error;
    regularFile_ = fs::is_regular_file(state_.fileName, error);
    targetSizeAtStart_ = read ? sizeOf(state_.fileName) : 0;
    otherOpenAtStart_ = otherFile().isOpen();
  }

  void step() {
    const TransferStep s = state_.transferStep;
    const Snapshot before = snapshot();
    shown_.clear();
    currentStep_ = s;
    quietWait_ = state_.quietCheckPending;
    std::optional<std::uint8_t> stray;
    if (!port_.unasked.empty()) stray = port_.unasked.front();
    const StepExpectation expected = model_.expect(s, quietWait_, stray);
    const StepResult result = performTransferStep(s, state_, link_, op_);
    ++report_.steps;
    if (result != StepResult::Waiting) record_.lastStep = stepNumber(s);
    checkStep(s, result, before, expected);
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
    model_.noteCommand(op);
    const Action action = model_.nextAction();
    stalePost_ = stalePost_ || action.stalePost;
    staleOffset_ = action.arg1 + action.pendingPolls;
    stop_ = stop_ || action.interference == Interference::Stop;
    restart_ = restart_ || action.interference == Interference::Restart;
    return model_.answer(op, action);
  }

  unsigned blockIndex() const {
    return static_cast<unsigned>(state_.currentBlock - state_.firstBlock);
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
    if (op.written[0] != command || block != state_.currentBlock || byteSum(op.written) != 0)
      violation("block command for block " + std::to_string(block) + " while at block " +
                std::to_string(state_.currentBlock));
  }

  void checkDataFrame(const Operation& op) {
    if (op.isRead || op.written.size() != dataFrameSize || byteSum(op.written) != 0) {
      violation("the data frame sent is not a sealed 257-byte frame");
      return;
    }
    const Block file = model_.fileBlock(blockIndex());
    if (!std::equal(op.written.begin(), op.written.begin() + blockSize, file.begin()))
      violation("the data frame for block " + std::to_string(state_.currentBlock) +
                " is not the file's block");
  }

  // ----- The operator ----------------------------------------------------------------------

  Answer onMessage(const Message& m) {
    Shown shown;
    shown.message = m;
    if (m.buttons == Buttons::YesNo) shown.answer = scenario_.answer(currentStep_ == Idle);
    shown_.push_back(shown);
    return shown.answer;
  }

  // ----- Invariants ------------------------------------------------------------------------

  void violation(const std::string& what) {
    if (report_.violations.empty())
      report_.violations.push_back("session " + std::to_string(sessionIndex_) + ": " + what);
  }

  Snapshot snapshot() const {
    return {state_.transferStep,        state_.currentBlock,      state_.blocksLeft,
            state_.firmwareVersionText, state_.secondVersionText, op_.messages.size(),
            op_.invalidations.size(),   port_.operations.size(),  state_.failure};
  }

  DataFile& directionFile() {
    return state_.direction == Direction::ReadFromDevice ? state_.targetFile : state_.sourceFile;
  }
  DataFile& otherFile() {
    return state_.direction == Direction::ReadFromDevice ? state_.sourceFile : state_.targetFile;
  }

  std::optional<FailureKind> failedWith() const {
    if (!state_.failure) return std::nullopt;
    return state_.failure->kind;
  }

  // The failure recorded is the one expected, and the messages shown are the questions asked
  // (up to the operator's first No) and then the box worded from that failure, nothing else.
  void checkFailure(const std::string& where, const std::optional<Failure>& expected,
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
    const auto [got, want] =
        std::mismatch(messages.begin(), messages.end(), due.begin(), due.end());
    violation(where + " showed " + (got == messages.end() ? "nothing" : "\"" + got->text + "\"") +
              " where " + (want == due.end() ? "nothing" : "\"" + want->text + "\"") + " was due");
  }

  void checkStart(StartResult result, StartExpectation e, const Snapshot& before, bool sourceOpen,
                  bool targetOpen, std::size_t requests) {
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
    const bool chooserAsked = op_.fileRequests.size() > requests;
    if (chooserAsked != e.chooserAsked) violation("the chooser was asked on Repeat, or not asked");
    if (chooserAsked) checkFileRequest(op_.fileRequests.back());
    if (e.result == StartResult::OutOfRange || config().oddity == Oddity::NoPort) return;
    if (state_.fileName != scenario_.fileName())
      violation("the start holds the name \"" + state_.fileName + "\", not the one chosen");
    if (result == StartResult::Started) checkStarted(before);
    checkStartFiles(result, sourceOpen, targetOpen);
  }

  // The chooser shows the direction's title and checks, the kind's one filter, and starts
  // from the previous choice.
  void checkFileRequest(const FileRequest& request) {
    const bool read = config().direction == Direction::ReadFromDevice;
    const KindInfo& kind = *kindInfo(config().kind);
    if (request.title != directionInfo(config().direction)->dialogTitle ||
        request.filterDescription != kind.filterDescription ||
        request.filterPattern != kind.filterPattern || request.mustExist == read ||
        request.createPrompt != read || request.defaultExtension != kind.defaultExtension ||
        request.initialName != scenario_.previousName())
      violation("the chooser was asked with the wrong title, filter, checks or name");
  }

  void checkStarted(const Snapshot& before) {
    const KindInfo* kind = kindInfo(state_.dataKind);
    if (state_.currentBlock != kind->firstBlock || state_.firstBlock != kind->firstBlock ||
        state_.blocksLeft != kind->blockCount || state_.sessionKind != state_.dataKind)
      violation("a started session does not stand at its kind's first block");
    if (op_.invalidations.size() == before.invalidations ||
        op_.invalidations.back() != Invalidation{Area::Window, true})
      violation("a started session did not repaint the window");
  }

  // The start opens only the direction's stream, and keeps it open only when it went on to
  // the WakeUp.
  void checkStartFiles(StartResult result, bool sourceOpen, bool targetOpen) {
    const bool read = state_.direction == Direction::ReadFromDevice;
    const bool otherBefore = read ? sourceOpen : targetOpen;
    const bool ownBefore = read ? targetOpen : sourceOpen;
    if (otherFile().isOpen() != otherBefore)
      violation("the session start touched the other stream");
    bool ownExpected = ownBefore;
    if (result == StartResult::Started || failedWith() == FailureKind::Communication)
      ownExpected = true;
    else if (failedWith() == FailureKind::FileOpen)
      ownExpected = false;
    if (directionFile().isOpen() != ownExpected)
      violation(std::string("after the start the data file is ") +
                (ownExpected ? "closed" : "open"));
  }

  void checkStep(TransferStep s, StepResult result, const Snapshot& before,
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
      const Snapshot after = snapshot();
      if (t != s || after.messages != before.messages ||
          after.invalidations != before.invalidations ||
          after.currentBlock != before.currentBlock || after.blocksLeft != before.blocksLeft ||
          after.failure != before.failure)
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
    checkFailure("step " + number(s), expected.failure, expected.questions);
    checkEnding(s, t);
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

  // A failure ends the session; a session ends without one only after its last block, or
  // when a verification met the file's end or was declined.
  void checkEnding(TransferStep s, TransferStep t) {
    for (const Shown& shown : shown_)
      if (shown.message.buttons == Buttons::YesNo && shown.answer == Answer::No) declined_ = true;
    const bool failed = state_.failure.has_value();
    if (failed && t != Idle)
      violation("a failure at step " + number(s) + " did not end the session");
    if (t != Idle) return;
    const bool quietEnd =
        s == CountBlock || (s == AwaitDataFrame && state_.direction == Direction::Verify);
    if (!failed && !quietEnd)
      violation("step " + number(s) + " ended the session without a message");
    cleanEnd_ = !failed && quietEnd && !declined_;
    const SessionOutcome expected = failed      ? SessionOutcome::Failed
                                    : declined_ ? SessionOutcome::Declined
                                                : SessionOutcome::Completed;
    if (state_.outcome != expected) violation("outcome does not match how the session ended");
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
    bool keep = verify && !declined_;
    if (const auto kind = failedWith())
      keep =
          (kind == FailureKind::PortError && (s == AwaitIdentification || s == AwaitDataAnswer)) ||
          (kind == FailureKind::FileRead && s == AwaitDataFrame && verify);
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
        after.operations != before.operations || after.failure != before.failure)
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
    const std::size_t fileBlocks = std::min(count, model_.source().size() / blockSize + 1);
    std::size_t expected = count;
    if (state_.direction == Direction::WriteToDevice) expected = fileBlocks;
    if (state_.direction == Direction::Verify)
      expected = record_.lastStep == stepNumber(CountBlock) ? count : fileBlocks - 1;
    if (state_.direction == Direction::Verify && record_.lastStep == stepNumber(CountBlock) &&
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
  void checkCompleteExchanges(std::size_t expected) {
    if (state_.outcome != SessionOutcome::Completed || state_.direction == Direction::Verify)
      return;
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

  Input input_;
  Scenario scenario_;
  DeviceModel model_;
  SessionState state_;
  LinkPort link_;
  FakeSerialPort port_;
  PosixFileService files_;
  ScriptedOperator op_;
  RunReport report_;

  SessionRecord record_;
  int sessionIndex_ = 0;
  TransferStep currentStep_ = Idle;
  const KindInfo* kind_ = nullptr;
  bool regularFile_ = true;  // the session's data file is not a device
  bool quietWait_ = false;   // the step performed waits for a quiet line
  std::uintmax_t targetSizeAtStart_ = 0;
  bool otherOpenAtStart_ = false;
  bool identified_ = false, cleanEnd_ = false, declined_ = false;
  TransferStep interruptedAt_ = Idle;  // the step at which the operator stopped or restarted
  std::vector<Shown> shown_;           // during the current step or start
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
