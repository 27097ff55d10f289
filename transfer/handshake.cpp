// Entering a step, the rules every step shares, and the handshake that identifies the device.
#include <array>

#include "transfer/engine_internal.h"

namespace morva {

namespace {

// The error a poll reports for a link with no port object at all: a bad descriptor.
constexpr unsigned noPortError = 9;

using StepFunction = StepResult (*)(SessionState&, LinkPort&, Operator&);

constexpr std::array<StepFunction, 10> steps{
    nullptr,          wakeUpWritten,       identificationArrived,
    sendBlockCommand, blockCommandWritten, blockCommandAnswered,
    dataFrameWritten, dataFrameAnswered,   dataFrameReceived,
    blockCompleted,
};

// The first reason an identification is refused, or empty when it is accepted. A refusal
// (NAK) outranks a bad checksum: the device's answer byte says more than our arithmetic.
std::string identificationDetail(std::uint32_t bytesRead, std::uint8_t answer,
                                 std::uint8_t residue) {
  if (bytesRead != identificationSize) return "no data : " + std::to_string(bytesRead);
  if (answer != ACK) return answerDetail(1, answer);
  if (residue != 0) return checksumDetail(residue);
  return {};
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

PollOutcome pollPending(LinkPort& link, std::uint32_t& count) {
  using Status = PollOutcome::Status;
  if (link.failedStart) {
    const auto number = static_cast<unsigned>(link.failedStart->number);
    link.failedStart.reset();
    return {Status::Failed, number};
  }
  if (link.port == nullptr) return {Status::Failed, noPortError};
  const PollResult result = link.port->poll();
  if (result.isFailed()) return {Status::Failed, static_cast<unsigned>(result.error.number)};
  // A closed port has nothing outstanding, whatever its poll claims.
  if (!link.port->isOpen()) return {Status::Failed, noPortError};
  if (result.isPending()) return {Status::Pending, 0};
  count = static_cast<std::uint32_t>(result.count);
  return {Status::Completed, 0};
}

namespace {

// Starts one operation on the link's port: a start the port refuses (or no port at all) is kept
// in failedStart, for the step that polls it to report.
template <class Start>
void startLinkOperation(LinkPort& link, Start start) {
  link.failedStart.reset();
  link.lineQuiet = false;
  if (link.port == nullptr)
    link.failedStart = OsError{static_cast<int>(noPortError), "no port", FailureCause::Other};
  else if (!start(*link.port))
    link.failedStart = link.port->lastError();
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

Polled pollStep(LinkPort& link, std::uint32_t& count, bool closeOnFailure, SessionState& state,
                Operator& op) {
  const PollOutcome outcome = pollPending(link, count);
  if (outcome.status == PollOutcome::Status::Pending) return Polled::Pending;
  if (outcome.status == PollOutcome::Status::Completed) return Polled::Completed;
  failTransfer("Error code : " + std::to_string(outcome.errorNumber), closeOnFailure, state, op);
  return Polled::Ended;
}

Message makeMessage(std::string text, std::string caption, Icon icon, Buttons buttons) {
  Message message;
  message.text = std::move(text);
  message.caption = std::move(caption);
  message.icon = icon;
  message.buttons = buttons;
  message.secondIsDefault = buttons == Buttons::YesNo;
  return message;
}

Message failMessage(std::string text) {
  return makeMessage(std::move(text), "Fail", Icon::Error);
}

Message question(std::string text) {
  return makeMessage(std::move(text), "Warning", Icon::Question, Buttons::YesNo);
}

void failTransfer(const std::string& text, bool closeFile, SessionState& state, Operator& op) {
  failTransfer(failMessage(text), closeFile, state, op);
}

void failTransfer(const Message& message, bool closeFile, SessionState& state, Operator& op) {
  // The box comes first: while it is up the session still stands at the failing step.
  op.showMessage(message);
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
  const Polled polled = pollStep(link, link.bytesWritten, true, state, op);
  if (polled != Polled::Completed) return stepResultOf(polled);
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
  const Polled polled = pollStep(link, link.bytesRead, false, state, op);
  if (polled != Polled::Completed) return stepResultOf(polled);
  const auto reply = std::span<const std::uint8_t>(link.ioBuffer).first(identificationSize);
  state.checksumResidue = sumMod256(reply.first(identificationSize - 1));
  const std::string detail = identificationDetail(link.bytesRead, reply[5], state.checksumResidue);
  if (!detail.empty()) {
    failTransfer("Initialization error : " + detail, true, state, op);
    return StepResult::Advanced;
  }
  link.lineQuiet = true;
  state.firmwareVersionText = formatVersionText(reply[0], reply[1]);
  state.secondVersionText = formatVersionText(reply[2], reply[3]);
  state.transferStep = TransferStep::SendCommand;
  // Only now, with the device known to answer, may an existing target lose its old content:
  // the file we hold, and only while its path still names it.
  if (state.targetAwaitsTruncate && state.direction == Direction::ReadFromDevice) {
    state.targetAwaitsTruncate = false;
    if (targetStillNamed(state, op) && !state.targetFile.truncate())
      failTransfer(fileFailure("File open error !", state.targetFile), true, state, op);
  }
  op.invalidate(Area::Window, true);
  return StepResult::Advanced;
}

}  // namespace morva
