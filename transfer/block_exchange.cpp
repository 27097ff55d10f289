// One block's cycle: command, answer, data frame out or in, answer, and the count.
#include <algorithm>
#include <array>
#include <utility>

#include "transfer/engine_internal.h"
#include "transfer/wording.h"

namespace morva {

namespace {

bool isAck(const LinkPort& link) {
  return link.bytesRead == 1 && link.ioBuffer[0] == ACK;
}

bool isNak(const LinkPort& link) {
  return link.bytesRead == 1 && link.ioBuffer[0] == NAK;
}

// The failure of the one-byte answer in ioBuffer.
Failure answerFailureOf(FailureKind kind, const SessionState& state, const LinkPort& link) {
  return answerFailure(kind, state.transferStep, link.bytesRead, link.ioBuffer[0]);
}

// Bytes that came when nothing was asked: an answer given twice, or more.
Failure strayByte(FailureKind kind, const SessionState& state, std::uint8_t byte) {
  return Failure{
      .kind = kind, .step = state.transferStep, .answer = AnswerFault::IllegalByte, .byte = byte};
}

std::span<std::uint8_t, dataFrameSize> dataFrame(LinkPort& link) {
  return std::span<std::uint8_t, dataFrameSize>(link.ioBuffer.data(), dataFrameSize);
}

// Compares the file's block with the device's, asking the operator at every difference.
// False when the operator declined to go on.
bool compareBlocks(SessionState& state, const LinkPort& link,
                   const std::array<std::uint8_t, blockSize>& fileBlock, Operator& op) {
  bool blockDiffers = false;
  for (std::size_t pos = 0; pos < blockSize; ++pos) {
    if (fileBlock[pos] == link.ioBuffer[pos]) continue;
    const Message asked =
        differenceQuestion(state.currentBlock + 1u, pos, fileBlock[pos], link.ioBuffer[pos]);
    if (op.showMessage(asked) != Answer::Yes) return false;
    const auto offset =
        static_cast<std::uint32_t>((state.currentBlock - state.firstBlock) * blockSize + pos);
    if (state.differences++ == 0) state.firstDifference = offset;
    state.lastDifference = offset;
    if (!std::exchange(blockDiffers, true)) ++state.differingBlocks;
  }
  return true;
}

void verifyReceivedBlock(SessionState& state, LinkPort& link, Operator& op) {
  std::array<std::uint8_t, blockSize> fileBlock{};
  bool endOfFileMet = false;
  if (!readBlockToCompare(state, fileBlock, endOfFileMet, op)) return;
  if (!compareBlocks(state, link, fileBlock, op)) {
    closeDataFile(state);
    endSession(state, op, SessionOutcome::Declined);
    return;
  }
  if (!endOfFileMet) {
    state.transferStep = TransferStep::CountBlock;
    return;
  }
  // The file ended inside the range: nothing more to compare, and the file stays open.
  awaitQuietLine(state, link);
}

// What a session that has all its answers does at its end: a read's target must still be at
// its path and close cleanly; a verification keeps its file open.
void completeSession(SessionState& state, Operator& op) {
  if (state.direction == Direction::ReadFromDevice) {
    if (!targetStillNamed(state, op)) return;
    if (!state.targetFile.holdsWhatWasWritten())
      return failTransfer(fileFailure(FailureKind::FileWrite, state, state.targetFile), true, state,
                          op);
    // A target that cannot be closed cleanly may have lost its last blocks.
    if (!closeDataFile(state))
      return failTransfer(fileFailure(FailureKind::FileWrite, state, state.targetFile), false,
                          state, op);
  } else if (state.direction == Direction::WriteToDevice) {
    closeDataFile(state);
  }
  endSession(state, op, SessionOutcome::Completed);
}

}  // namespace

std::optional<std::uint8_t> unaskedInput(LinkPort& link) {
  std::array<std::uint8_t, 16> stray{};
  if (link.port == nullptr || link.port->takeUnasked(stray) == 0) return std::nullopt;
  link.lineQuiet = false;  // more of it may follow
  return stray[0];
}

void awaitQuietLine(SessionState& state, LinkPort& link) {
  startLinkGapRead(link);
  state.quietCheckPending = true;
}

StepResult lineQuietAtEnd(SessionState& state, LinkPort& link, Operator& op) {
  const PollResult outcome = pollPending(link);
  if (outcome.isPending()) return StepResult::Waiting;
  state.quietCheckPending = false;
  // The last block was counted, and its lines painted, while the session still listened to
  // the line: now that it ends, the session and block lines go.
  op.invalidate(Area::BlockLine, true);
  if (outcome.isCompleted() && outcome.count > 0) {
    // The device sent its last answer again, or more: that answer cannot be trusted.
    failTransfer(strayByte(FailureKind::Transmission, state, link.ioBuffer[0]), true, state, op);
    return StepResult::Advanced;
  }
  // A port that fails the wait tells nothing about answers that all came in whole.
  link.lineQuiet = outcome.isCompleted();
  completeSession(state, op);
  return StepResult::Advanced;
}

StepResult sendBlockCommand(SessionState& state, LinkPort& link, Operator& op) {
  // Bytes after the last answer, before anything was asked again: the device answered twice,
  // and the copy would be taken for this command's acknowledgment.
  if (const auto stray = unaskedInput(link)) {
    failTransfer(strayByte(FailureKind::Acknowledgment, state, *stray), true, state, op);
    return StepResult::Advanced;
  }
  const auto command = buildBlockCommand(state.direction, state.currentBlock);
  std::copy(command.begin(), command.end(), link.ioBuffer.begin());
  startLinkWrite(link, blockCommandSize);
  state.transferStep = TransferStep::AwaitCommandSent;
  return StepResult::Advanced;
}

StepResult blockCommandWritten(SessionState& state, LinkPort& link, Operator& op) {
  return readAnswerAfterWrite(state, link, op, 1, TransferStep::AwaitCommandAnswer);
}

StepResult blockCommandAnswered(SessionState& state, LinkPort& link, Operator& op) {
  const PollResult polled = pollStep(link, link.bytesRead, true, state, op);
  if (!polled.isCompleted()) return stepResultOf(polled);
  if (!isAck(link)) {
    // A refused command is a whole answer: the device waits for the next frame.
    link.lineQuiet = isNak(link);
    failTransfer(answerFailureOf(FailureKind::Acknowledgment, state, link), true, state, op);
    return StepResult::Advanced;
  }
  if (state.direction != Direction::WriteToDevice) {
    startLinkRead(link, dataFrameSize);
    state.transferStep = TransferStep::AwaitDataFrame;
    return StepResult::Advanced;
  }
  // The acknowledgment came twice: the copy would be taken for the data frame's answer.
  if (const auto stray = unaskedInput(link)) {
    failTransfer(strayByte(FailureKind::Transmission, state, *stray), true, state, op);
    return StepResult::Advanced;
  }
  if (!readBlockToSend(state, link, op)) return StepResult::Advanced;
  state.checksumResidue = sealDataFrame(dataFrame(link));
  startLinkWrite(link, dataFrameSize);
  state.transferStep = TransferStep::AwaitDataSent;
  return StepResult::Advanced;
}

StepResult dataFrameWritten(SessionState& state, LinkPort& link, Operator& op) {
  return readAnswerAfterWrite(state, link, op, 1, TransferStep::AwaitDataAnswer);
}

StepResult dataFrameAnswered(SessionState& state, LinkPort& link, Operator& op) {
  // A port failure here keeps sourceFile open until the next session start.
  const PollResult polled = pollStep(link, link.bytesRead, false, state, op);
  if (!polled.isCompleted()) return stepResultOf(polled);
  link.lineQuiet = isAck(link) || isNak(link);
  if (!isAck(link)) {
    failTransfer(answerFailureOf(FailureKind::Transmission, state, link), true, state, op);
    return StepResult::Advanced;
  }
  state.transferStep = TransferStep::CountBlock;
  return StepResult::Advanced;
}

StepResult dataFrameReceived(SessionState& state, LinkPort& link, Operator& op) {
  const PollResult polled = pollStep(link, link.bytesRead, true, state, op);
  if (!polled.isCompleted()) return stepResultOf(polled);
  state.checksumResidue = sumMod256(dataFrame(link));
  if (link.bytesRead != dataFrameSize || state.checksumResidue != 0) {
    Failure failure{.kind = FailureKind::Transmission, .step = state.transferStep};
    if (link.bytesRead != dataFrameSize) {
      failure.answer = AnswerFault::NoData;
      failure.count = link.bytesRead;
    } else {
      failure.answer = AnswerFault::Checksum;
      failure.byte = state.checksumResidue;
    }
    failTransfer(failure, true, state, op);
    return StepResult::Advanced;
  }
  link.lineQuiet = true;  // a whole, sound frame: the device waits for the next command
  if (state.direction == Direction::Verify) {
    verifyReceivedBlock(state, link, op);
  } else if (writeReceivedBlock(state, link, op)) {
    state.transferStep = TransferStep::CountBlock;
  }
  return StepResult::Advanced;
}

bool stepMayAsk(const SessionState& state) {
  return state.direction == Direction::Verify &&
         state.transferStep == TransferStep::AwaitDataFrame && !state.quietCheckPending;
}

StepResult blockCompleted(SessionState& state, LinkPort& link, Operator& op) {
  ++state.currentBlock;
  --state.blocksLeft;
  const unsigned done = state.currentBlock - state.firstBlock;
  op.blockCompleted(done, done + state.blocksLeft);
  if (state.blocksLeft != 0) {
    state.transferStep = TransferStep::SendCommand;
  } else {
    awaitQuietLine(state, link);
  }
  op.invalidate(Area::BlockLine, true);
  return StepResult::Advanced;
}

}  // namespace morva
