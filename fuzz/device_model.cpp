#include "fuzz/device_model.h"

#include <algorithm>
#include <utility>

#include "transfer/wording.h"

namespace morva::fuzz {

namespace {

using enum TransferStep;
using testing::Operation;
using testing::Reply;

constexpr int answersBeforeSilence = 4;

std::optional<std::uint8_t> firstOf(const Bytes& bytes) {
  if (bytes.empty()) return std::nullopt;
  return bytes.front();
}

// A one-byte answer: ACK, or a refusal, another byte, or not one byte at all.
std::optional<Failure> oneByteFailure(FailureKind kind, const Bytes& answer) {
  if (answer == Bytes{ACK}) return std::nullopt;
  Failure f{.kind = kind, .answer = AnswerFault::NoData, .count = answer.size()};
  if (answer == Bytes{NAK}) {
    f.answer = AnswerFault::Nak;
    f.count = 0;
  } else if (answer.size() == 1) {
    f.answer = AnswerFault::IllegalByte;
    f.count = 0;
    f.byte = answer[0];
  }
  return f;
}

// Six bytes, the answer byte ACK (a refusal outranks a checksum), the versions' sum sealed.
std::optional<Failure> identificationFailure(const Bytes& reply) {
  Failure f{.kind = FailureKind::Initialization, .answer = AnswerFault::NoData};
  if (reply.size() != identificationSize) {
    f.count = reply.size();
    return f;
  }
  if (reply[5] != ACK) return oneByteFailure(f.kind, Bytes{reply[5]});
  const std::uint8_t residue = byteSum(std::span(reply).first(identificationSize - 1));
  if (residue == 0) return std::nullopt;
  f.answer = AnswerFault::Checksum;
  f.byte = residue;
  return f;
}

Failure strayFailure(FailureKind kind, std::uint8_t byte) {
  return Failure{.kind = kind, .answer = AnswerFault::IllegalByte, .byte = byte};
}

}  // namespace

std::uint8_t byteSum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

void DeviceModel::beginSession(const SessionConfig& config) {
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

void DeviceModel::setFile(std::string path, FileFacts facts, Bytes source) {
  path_ = std::move(path);
  file_ = facts;
  source_ = std::move(source);
}

void DeviceModel::noteCommand(const Operation& op) {
  if (!op.isRead && op.written.size() == blockCommandSize)
    block_ = static_cast<std::uint16_t>(op.written[1] | op.written[2] << 8);
}

Action DeviceModel::nextAction() {
  if (!input_.exhausted()) return decodeAction(input_);
  Action a;
  if (config_.tail == Tail::Silent ||
      (config_.tail == Tail::CorrectThenSilent && answersLeft_-- <= 0) ||
      (config_.tail == Tail::Correct && blockIndex() >= cooperativeBlocks()))
    a.mode = Mode::Silent;
  return a;
}

Reply DeviceModel::answer(const Operation& op, const Action& action) {
  const Block memory = op.isRead && op.size == dataFrameSize ? memoryAt(blockIndex()) : Block{};
  Reply r = deviceReply(op, action, memory);
  if (op.size == dataFrameSize && r.data.size() == dataFrameSize && byteSum(r.data) == 0)
    delivered_[blockIndex()] = Bytes(r.data.begin(), r.data.begin() + blockSize);
  countExchange(op, r);
  outstanding_ = {op, r};
  pollsLeft_ = r.pendingPolls;
  return r;
}

std::optional<int> DeviceModel::refusedStart() const {
  if (!outstanding_.reply.startFails) return std::nullopt;
  return outstanding_.reply.error;
}

StepExpectation DeviceModel::expect(TransferStep step, bool quietWait,
                                    std::optional<std::uint8_t> stray) {
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

Block DeviceModel::fileBlock(unsigned index) const {
  Block b{};
  const std::size_t from = std::size_t{index} * blockSize;
  if (from < source_.size())
    std::copy_n(source_.begin() + static_cast<std::ptrdiff_t>(from),
                std::min(blockSize, source_.size() - from), b.begin());
  return b;
}

unsigned DeviceModel::blockIndex() const {
  return block_ ? *block_ - kind_->firstBlock : 0;
}

// How many blocks a read's device answers once the input has run out: the file size stands
// for the image the device holds, so that most reads stay short.
std::size_t DeviceModel::cooperativeBlocks() const {
  if (config_.direction != Direction::ReadFromDevice || config_.size == FileSize::Full ||
      config_.size == FileSize::FullPlus1000)
    return std::size_t{kind_->blockCount};
  return fileSize(config_) / blockSize + 1;
}

// The device's memory at block `index`: for a verification the file's block (with one byte
// changed when the device differs), for a read a pattern of the block number.
Block DeviceModel::memoryAt(unsigned index) const {
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

void DeviceModel::countExchange(const Operation& op, const Reply& reply) {
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
void DeviceModel::expectPolled(TransferStep step, std::optional<std::uint8_t> stray,
                               StepExpectation& e) {
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

void DeviceModel::judgeRead(TransferStep step, std::optional<std::uint8_t> stray,
                            StepExpectation& e) const {
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

// A whole, sealed frame; then a read stores it, a verification compares it with the file.
void DeviceModel::judgeFrame(const Bytes& frame, StepExpectation& e) const {
  Failure f{
      .kind = FailureKind::Transmission, .answer = AnswerFault::NoData, .count = frame.size()};
  if (frame.size() != dataFrameSize) {
    e.failure = f;
  } else if (const std::uint8_t residue = byteSum(frame); residue != 0) {
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
      if (file[pos] != frame[pos])
        e.questions.push_back(
            differenceQuestion(kind_->firstBlock + blockIndex() + 1u, pos, file[pos], frame[pos]));
  }
}

Failure DeviceModel::fileFailure(FailureKind kind) const {
  Failure f{.kind = kind, .path = path_};
  f.error.number = kind == FailureKind::FileRead ? file_.readError : file_.writeError;
  return f;
}

}  // namespace morva::fuzz
