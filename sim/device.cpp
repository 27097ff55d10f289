#include "sim/device.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace morva::sim {
namespace {

// Where an answer carries its ACK and its checksum, so that a fault knows what to spoil.
struct AnswerLayout {
  std::optional<std::size_t> ack;       // none: a NAK or illegal byte replaces the whole answer
  std::optional<std::size_t> checksum;  // none: a corruption spoils the ACK itself
};

constexpr AnswerLayout oneByteAnswer{0, std::nullopt};
constexpr AnswerLayout identificationLayout{5, 4};
constexpr AnswerLayout dataFrameLayout{std::nullopt, MemoryImage::blockSize};

std::uint8_t sumOf(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

std::vector<std::uint8_t> junk(std::size_t count) {
  static constexpr std::uint8_t pattern[] = {0x5A, 0xA5, 0x3C, 0xC3};
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = pattern[i % std::size(pattern)];
  return bytes;
}

void replaceAck(Delivery& d, const AnswerLayout& layout, std::uint8_t byte) {
  if (layout.ack && *layout.ack < d.bytes.size()) {
    d.bytes[*layout.ack] = byte;
  } else {
    d.bytes = {byte};
  }
}

// Changes a correct answer the way the fault says.
void applyFault(Delivery& d, const AnswerLayout& layout, const Fault& fault) {
  const std::size_t size = d.bytes.size();
  switch (fault.action) {
    case FaultAction::Nak:
      replaceAck(d, layout, nakByte);
      break;
    case FaultAction::Illegal:
      replaceAck(d, layout, fault.byte);
      break;
    case FaultAction::Silence:
      d.bytes.clear();
      break;
    case FaultAction::Short:
      d.bytes.resize(std::min(fault.count, size));
      break;
    case FaultAction::Corrupt: {
      const std::size_t at = layout.checksum.value_or(layout.ack.value_or(0));
      d.bytes[at] = static_cast<std::uint8_t>(d.bytes[at] + std::max<std::uint8_t>(fault.byte, 1));
      break;
    }
    case FaultAction::Pause:
      d.pauseAt = fault.count ? std::min(fault.count, size) : size / 2;
      d.pause = fault.delay;
      break;
    case FaultAction::Late:
      d.delay += fault.delay;
      break;
    case FaultAction::Twice:
      d.bytes.insert(d.bytes.end(), d.bytes.begin(), d.bytes.end());
      break;
    case FaultAction::Garbage: {
      const auto prefix = junk(fault.count);
      d.bytes.insert(d.bytes.begin(), prefix.begin(), prefix.end());
      break;
    }
    case FaultAction::Vanish:
      d.bytes.resize(std::min(fault.count, size));
      d.vanish = true;
      break;
    case FaultAction::Hold:
      d.pauseAt = std::min(fault.count, size);
      d.hold = true;
      break;
  }
  d.note += " [fault " + describeFault(fault) + "]";
}

Delivery shaped(std::vector<std::uint8_t> bytes, std::string note, std::chrono::milliseconds delay,
                const AnswerLayout& layout, const std::optional<Fault>& fault) {
  Delivery d{std::move(bytes), delay, 0, {}, false, false, std::move(note)};
  if (fault) applyFault(d, layout, *fault);
  return d;
}

std::string versionText(std::uint8_t major, std::uint8_t minor) {
  std::string minorText = std::to_string(minor);
  if (minorText.size() < 2) minorText.insert(0, "0");
  return std::to_string(major) + "." + minorText;
}

}  // namespace

std::uint8_t checksumOf(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint8_t>(0x100 - sumOf(bytes));
}

std::vector<std::uint8_t> identificationFrame(const Identification& id) {
  std::vector<std::uint8_t> frame{id.firmwareMajor, id.firmwareMinor, id.secondMajor,
                                  id.secondMinor};
  frame.push_back(checksumOf(frame));
  frame.push_back(ackByte);
  return frame;
}

Device::Device(MemoryImage& memory, FaultSet& faults, WireTrace& trace, DeviceSettings settings)
    : memory_(memory), faults_(faults), trace_(trace), settings_(settings) {}

template <typename F>
void Device::count(F change) {
  std::lock_guard lock(statsMutex_);
  change(stats_);
}

Stats Device::stats() const {
  std::lock_guard lock(statsMutex_);
  return stats_;
}

std::vector<Delivery> Device::receive(std::uint8_t byte) {
  count([](Stats& s) { ++s.bytesReceived; });
  switch (state_) {
    case State::Idle:
      return receiveIdle(byte);
    case State::Command:
      frame_.push_back(byte);
      if (frame_.size() < commandLength) return {};
      state_ = State::Idle;
      return answerCommand();
    case State::AwaitingData:
    case State::Data:
      frame_.push_back(byte);
      state_ = State::Data;
      if (frame_.size() < dataFrameLength) return {};
      state_ = State::Idle;
      return takeDataFrame();
  }
  return {};
}

// Between frames only ESC and the two command bytes mean anything; the rest is line noise
// that the device skips until it finds the start of a frame again.
std::vector<Delivery> Device::receiveIdle(std::uint8_t byte) {
  if (byte != wakeUpByte && byte != writeBlockByte && byte != readBlockByte) {
    ignored_.push_back(byte);
    count([](Stats& s) { ++s.bytesIgnored; });
    return {};
  }
  reportIgnored();
  if (byte == wakeUpByte) return {identify()};
  frame_ = {byte};
  state_ = State::Command;
  return {};
}

std::optional<std::chrono::milliseconds> Device::patience() const {
  if (state_ == State::Command || state_ == State::Data || !ignored_.empty()) return frameGap;
  return std::nullopt;
}

std::vector<Delivery> Device::silence() {
  reportIgnored();
  std::vector<Delivery> answers;
  if (state_ == State::Data && frame_ == std::vector<std::uint8_t>{wakeUpByte}) {
    // A PC that gave up after a write command starts its next session with ESC, which the
    // device first takes as the start of the data frame it is owed. A lone ESC followed by
    // silence cannot be a data frame: it is the wake-up.
    trace_.event("lone ESC where a data frame was due: taken as a wake-up");
    answers.push_back(identify());
  } else if (state_ == State::Command || state_ == State::Data) {
    trace_.frame(WireDirection::ToDevice, frame_,
                 "dropped: " + std::to_string(frame_.size()) + " bytes, then silence");
    count([](Stats& s) { ++s.framesDropped; });
  }
  if (state_ != State::AwaitingData) {
    state_ = State::Idle;
    frame_.clear();
  }
  return answers;
}

void Device::reportIgnored() {
  if (ignored_.empty()) return;
  trace_.frame(WireDirection::ToDevice, ignored_, "ignored: no frame starts so");
  ignored_.clear();
}

Delivery Device::identify() {
  state_ = State::Idle;
  frame_.clear();
  trace_.frame(WireDirection::ToDevice, std::vector<std::uint8_t>{wakeUpByte}, "wake-up");
  count([](Stats& s) { ++s.wakeUps; });
  const Identification& id = settings_.identification;
  return shaped(identificationFrame(id),
                "identification " + versionText(id.firmwareMajor, id.firmwareMinor) + " " +
                    versionText(id.secondMajor, id.secondMinor),
                settings_.answerLatency, identificationLayout, faults_.take(FaultStep::WakeUp, 0));
}

Delivery Device::refuse(std::string_view reason) {
  count([](Stats& s) { ++s.framesRefused; });
  return Delivery{{nakByte}, settings_.answerLatency,      0, {}, false,
                  false,     "NAK: " + std::string(reason)};
}

std::vector<Delivery> Device::answerCommand() {
  const std::vector<std::uint8_t> frame = std::exchange(frame_, {});
  const bool write = frame[0] == writeBlockByte;
  const auto block = static_cast<std::uint16_t>(frame[1] | frame[2] << 8);
  trace_.frame(WireDirection::ToDevice, frame,
               (write ? "write block " : "read block ") + std::to_string(block));
  if (sumOf(frame) != 0) return {refuse("bad command checksum")};
  if (block >= MemoryImage::blockCount) return {refuse("no such block")};

  const auto fault = faults_.take(FaultStep::Command, block);
  std::vector<Delivery> answers{
      shaped({ackByte}, "ACK", settings_.answerLatency, oneByteAnswer, fault)};
  if (fault && !keepsAcceptance(*fault, 1)) return answers;  // the device did not take it
  count([](Stats& s) { ++s.commandsAccepted; });
  if (write) {
    state_ = State::AwaitingData;
    block_ = block;
  } else {
    answers.push_back(sendBlock(block));
  }
  return answers;
}

Delivery Device::sendBlock(std::uint16_t block) {
  const MemoryImage::Block data = memory_.block(block);
  std::vector<std::uint8_t> frame(data.begin(), data.end());
  frame.push_back(checksumOf(frame));
  count([](Stats& s) { ++s.blocksRead; });
  // The data frame follows its ACK straight away: the answer latency was spent on the ACK.
  return shaped(std::move(frame), "data of block " + std::to_string(block),
                std::chrono::milliseconds(0), dataFrameLayout,
                faults_.take(FaultStep::Data, block));
}

std::vector<Delivery> Device::takeDataFrame() {
  const std::vector<std::uint8_t> frame = std::exchange(frame_, {});
  trace_.frame(WireDirection::ToDevice, frame, "data for block " + std::to_string(block_));
  if (sumOf(frame) != 0) return {refuse("bad data checksum, block not stored")};
  const auto fault = faults_.take(FaultStep::Data, block_);
  Delivery answer = shaped({ackByte}, "ACK", settings_.answerLatency, oneByteAnswer, fault);
  if (!fault || keepsAcceptance(*fault, 1)) {
    MemoryImage::Block data{};
    std::copy_n(frame.begin(), data.size(), data.begin());
    memory_.setBlock(block_, data);
    count([](Stats& s) { ++s.blocksWritten; });
  }
  return {answer};
}

}  // namespace morva::sim
