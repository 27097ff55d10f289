// The fuzz harness's device model: what the device answers each operation the engine starts
// (shaped by the input's actions), what it then holds, and what the engine must conclude at
// each step from those answers and from what the line still holds.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz/device_reply.h"
#include "fuzz/input_format.h"
#include "fuzz/scenario.h"
#include "tests/support/fake_serial_port.h"
#include "transfer/failure.h"
#include "transfer/frames.h"
#include "transfer/operator.h"

namespace morva::fuzz {

using Block = std::array<std::uint8_t, blockSize>;

// The frames' arithmetic, done here again rather than taken from the engine under test.
std::uint8_t byteSum(std::span<const std::uint8_t> bytes);

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

  void beginSession(const SessionConfig& config);
  // The session's data file as it started: its path, what the OS does with it, and a write's
  // or a verification's blocks.
  void setFile(std::string path, FileFacts facts, Bytes source);

  // Takes a block command's number as the block the device now exchanges; called for every
  // operation before its action is taken.
  void noteCommand(const testing::Operation& op);
  // The input's next action, or once it has run out the one its tail says.
  Action nextAction();
  // The device's answer to an operation the engine started, shaped by `action`.
  testing::Reply answer(const testing::Operation& op, const Action& action);

  // The error the port refused the last start with (the WakeUp's, at a session start).
  std::optional<int> refusedStart() const;
  // What step `step` must do, from the answer to the operation it polls and `stray`, the
  // first byte the line holds that nobody asked for. Once for each step performed, before it.
  StepExpectation expect(TransferStep step, bool quietWait, std::optional<std::uint8_t> stray);

  // The data file's block `index`, zero-filled past its end.
  Block fileBlock(unsigned index) const;
  const Bytes& source() const { return source_; }
  // The blocks the device sent in sound frames, by their index in the session.
  const std::map<unsigned, Bytes>& delivered() const { return delivered_; }
  const std::map<unsigned, Exchange>& exchanges() const { return exchanges_; }

 private:
  struct Started {
    testing::Operation op;
    testing::Reply reply;
  };

  unsigned blockIndex() const;
  std::size_t cooperativeBlocks() const;
  Block memoryAt(unsigned index) const;
  void countExchange(const testing::Operation& op, const testing::Reply& reply);
  void expectPolled(TransferStep step, std::optional<std::uint8_t> stray, StepExpectation& e);
  void judgeRead(TransferStep step, std::optional<std::uint8_t> stray, StepExpectation& e) const;
  void judgeFrame(const Bytes& frame, StepExpectation& e) const;
  Failure fileFailure(FailureKind kind) const;

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

}  // namespace morva::fuzz
