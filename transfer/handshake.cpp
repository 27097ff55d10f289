// Entering a step, the rules every step shares, and the handshake that identifies the device.
#include <array>
#include <optional>
#include <utility>

#include "transfer/engine_internal.h"
#include "transfer/wording.h"

namespace morva {

namespace {

using StepFunction = StepResult (*)(SessionState&, LinkPort&, Operator&);

constexpr std::array<StepFunction, 10> steps{
    nullptr,          wakeUpWritten,       identificationArrived,
    sendBlockCommand, blockCommandWritten, blockCommandAnswered,
    dataFrameWritten, dataFrameAnswered,   dataFrameReceived,
    blockCompleted,
};

// Why an identification is refused, or none when it is accepted. A refusal (NAK) outranks a
// bad checksum: the device's answer byte says more than our arithmetic.
std::optional<Failure> identificationFailure(std::uint32_t bytesRead, std::uint8_t answer,
                                             std::uint8_t residue) {
  constexpr auto step = TransferStep::AwaitIdentification;
  if (bytesRead != identificationSize)
    return Failure{.kind = FailureKind::Initialization,
                   .step = step,
                   .answer = AnswerFault::NoData,
                   .count = bytesRead};
  if (answer != ACK) return answerFailure(FailureKind::Initialization, step, 1, answer);
  if (residue != 0)
    return Failure{.kind = FailureKind::Initialization,
                   .step = step,
                   .answer = AnswerFault::Checksum,
                   .byte = residue};
  return std::nullopt;
}

}  // namespace

StepResult performTransferStep(TransferStep step, SessionState& state, LinkPort& link,
                               Operator& op) {
  const int number = stepNumber(step);
  if (number < 1 || number > 9 || step != state.transferStep) return StepResult::Ignored;
  const StepResult result = state.quietCheckPending
                                ? lineQuietAtEnd(state, link, op)
                                : steps[static_cast<std::size_t>(number)](state, link, op);
  // Whatever a step did, the status line shows the step that follows.
  if (result == StepResult::Advanced) op.invalidate(Area::StatusLine, true);
  return result;
}

PollResult pollPending(LinkPort& link) {
  if (link.failedStart) return PollResult::failed(*std::exchange(link.failedStart, std::nullopt));
  return link.port->poll();
}

namespace {

// Starts one operation on the link's port: a start the port refuses is kept in failedStart, for
// the step that polls it to report, whatever the port has forgotten since (a purge).
template <class Start>
void startLinkOperation(LinkPort& link, Start start) {
  link.failedStart.reset();
  link.lineQuiet = false;
  if (!start(*link.port)) link.failedStart = link.port->lastError();
}

}  // namespace

void startLinkRead(LinkPort& link, std::size_t size) {
  startLinkOperation(
      link, [&](SerialPort& port) { return port.startRead(std::span(link.ioBuffer).first(size)); });
}

void startLinkGapRead(LinkPort& link) {
  startLinkOperation(
      link, [&](SerialPort& port) { return port.startGapRead(std::span(link.ioBuffer).first(1)); });
}

void startLinkWrite(LinkPort& link, std::size_t size) {
  startLinkOperation(link, [&](SerialPort& port) {
    return port.startWrite(std::span<const std::uint8_t>(link.ioBuffer).first(size));
  });
}

PollResult pollStep(LinkPort& link, std::uint32_t& count, bool closeOnFailure, SessionState& state,
                    Operator& op) {
  const PollResult result = pollPending(link);
  if (result.isCompleted()) count = static_cast<std::uint32_t>(result.count);
  if (result.isFailed())
    failTransfer(
        Failure{.kind = FailureKind::PortError, .step = state.transferStep, .error = result.error},
        closeOnFailure, state, op);
  return result;
}

void failTransfer(const Failure& failure, bool closeFile, SessionState& state, Operator& op) {
  state.failure = failure;
  // The box comes first: while it is up the session still stands at the failing step.
  op.showMessage(failureMessage(failure));
  if (closeFile) closeDataFile(state);
  endSession(state, op, SessionOutcome::Failed);
}

void releaseFileLocks(SessionState& state) {
  state.sourceFile.unlock();
  state.targetFile.unlock();
}

void endSession(SessionState& state, Operator& op, SessionOutcome outcome) {
  state.transferStep = TransferStep::Idle;
  state.quietCheckPending = false;
  releaseFileLocks(state);
  state.outcome = outcome;
  op.sessionEnded(outcome);
}

void stopSession(SessionState& state, LinkPort& link, Operator& op) {
  if (sessionRunning(state.transferStep)) endSession(state, op, SessionOutcome::Stopped);
  if (link.portOpen()) link.port->purge();
  op.invalidate(Area::Window, true);
}

std::string formatVersionText(unsigned major, unsigned minor) {
  if (major >= 10) return "?.??";
  std::string text{static_cast<char>('0' + major), '.'};
  if (minor >= 100) return text + "??";
  text += static_cast<char>('0' + minor / 10);
  text += static_cast<char>('0' + minor % 10);
  return text;
}

StepResult readAnswerAfterWrite(SessionState& state, LinkPort& link, Operator& op,
                                std::size_t answerSize, TransferStep nextStep) {
  const PollResult polled = pollStep(link, link.bytesWritten, true, state, op);
  if (!polled.isCompleted()) return stepResultOf(polled);
  startLinkRead(link, answerSize);
  state.transferStep = nextStep;
  return StepResult::Advanced;
}

StepResult wakeUpWritten(SessionState& state, LinkPort& link, Operator& op) {
  return readAnswerAfterWrite(state, link, op, identificationSize,
                              TransferStep::AwaitIdentification);
}

StepResult identificationArrived(SessionState& state, LinkPort& link, Operator& op) {
  // A port failure here leaves the file open: the next session start closes it.
  const PollResult polled = pollStep(link, link.bytesRead, false, state, op);
  if (!polled.isCompleted()) return stepResultOf(polled);
  const auto reply = std::span<const std::uint8_t>(link.ioBuffer).first(identificationSize);
  state.checksumResidue = sumMod256(reply.first(identificationSize - 1));
  if (const auto refused = identificationFailure(link.bytesRead, reply[5], state.checksumResidue)) {
    failTransfer(*refused, true, state, op);
    return StepResult::Advanced;
  }
  link.lineQuiet = true;
  state.firmwareVersionText = formatVersionText(reply[0], reply[1]);
  state.secondVersionText = formatVersionText(reply[2], reply[3]);
  // Only now, with the device known to answer, may an existing target lose its old content:
  // the file we hold, and only while its path still names it. A failure here is this step's.
  if (state.targetAwaitsTruncate && state.direction == Direction::ReadFromDevice) {
    state.targetAwaitsTruncate = false;
    if (targetStillNamed(state, op) && !state.targetFile.truncate())
      failTransfer(fileFailure(FailureKind::FileOpen, state, state.targetFile), true, state, op);
  }
  if (sessionRunning(state.transferStep)) state.transferStep = TransferStep::SendCommand;
  op.invalidate(Area::Window, true);
  return StepResult::Advanced;
}

}  // namespace morva
