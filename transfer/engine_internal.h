// The engine's own pieces shared by the session start, the handshake and the block steps.
// Not for use outside transfer/ and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "transfer/engine.h"
#include "transfer/frames.h"
#include "transfer/link_port.h"
#include "transfer/operator.h"
#include "transfer/session_state.h"

namespace morva {

// Polls the read or write last started on the link once, without waiting: a start that failed
// at once fails here with the port's reason.
PollResult pollPending(LinkPort& link);

// Start a read of `size` bytes into ioBuffer, or a write of ioBuffer's first `size` bytes.
// A start the port refuses is remembered, so that the step polling it fails.
void startLinkRead(LinkPort& link, std::size_t size);
// Starts waiting one inter-byte gap for a byte into ioBuffer.
void startLinkGapRead(LinkPort& link);
void startLinkWrite(LinkPort& link, std::size_t size);

// The common end of a poll inside a step: the poll's result, with the byte count stored in
// `count` once Completed. A Failed poll has already ended the session with its PortError,
// closing the file if asked.
PollResult pollStep(LinkPort& link, std::uint32_t& count, bool closeOnFailure, SessionState& state,
                    Operator& op);
inline StepResult stepResultOf(const PollResult& polled) {
  return polled.isPending() ? StepResult::Waiting : StepResult::Advanced;
}

// Steps 1, 4 and 6 share one shape: once the write has gone (a failed poll closes the file),
// start reading the device's `answerSize`-byte answer and go on at `nextStep`.
StepResult readAnswerAfterWrite(SessionState& state, LinkPort& link, Operator& op,
                                std::size_t answerSize, TransferStep nextStep);

// A file that stays open after its session (a verification's, a stopped one's) is no longer
// the session's: another may use it.
void releaseFileLocks(SessionState& state);

// Every end of a session: no step follows, the outcome is kept, the front end is told.
void endSession(SessionState& state, Operator& op, SessionOutcome outcome);

// Input that came when no answer was due, taken without waiting: its first byte, or none when
// the line held nothing. Such input means a device that answered more than it was asked.
std::optional<std::uint8_t> unaskedInput(LinkPort& link);
// The session has every answer it asked for: it completes once the line stays quiet for one
// gap (the current step is performed again meanwhile, see lineQuietAtEnd).
void awaitQuietLine(SessionState& state, LinkPort& link);
StepResult lineQuietAtEnd(SessionState& state, LinkPort& link, Operator& op);

// Steps 1 and 2: the WakeUp written, the identification received.
StepResult wakeUpWritten(SessionState& state, LinkPort& link, Operator& op);
StepResult identificationArrived(SessionState& state, LinkPort& link, Operator& op);
// Steps 3 to 9: one block's cycle.
StepResult sendBlockCommand(SessionState& state, LinkPort& link, Operator& op);
StepResult blockCommandWritten(SessionState& state, LinkPort& link, Operator& op);
StepResult blockCommandAnswered(SessionState& state, LinkPort& link, Operator& op);
StepResult dataFrameWritten(SessionState& state, LinkPort& link, Operator& op);
StepResult dataFrameAnswered(SessionState& state, LinkPort& link, Operator& op);
StepResult dataFrameReceived(SessionState& state, LinkPort& link, Operator& op);
StepResult blockCompleted(SessionState& state, LinkPort& link, Operator& op);

// The data file of the session, block by block. Each failure has already been reported and
// has ended the session when these return false.
using Block = std::span<std::uint8_t, blockSize>;

// Closes the direction's stream, then opens fileName for it; "File open error !" when that
// fails. A read's existing file is kept whole until the device has identified itself. Called
// after checkDataFile, so there is a file service. A read's target that is the link's own
// port is refused.
bool openDataFile(SessionState& state, LinkPort& link, Operator& op);
// The next block of sourceFile into ioBuffer, zero-filled past the end; at the end of the file
// this block becomes the session's last. Closes sourceFile on failure.
bool readBlockToSend(SessionState& state, LinkPort& link, Operator& op);
// The next block of sourceFile into `block`; keeps the file open on failure.
bool readBlockToCompare(SessionState& state, Block block, bool& endOfFileMet, Operator& op);
// ioBuffer's block into targetFile, flushed to the OS; closes targetFile on failure.
bool writeReceivedBlock(SessionState& state, LinkPort& link, Operator& op);

// False, after "File write error !" (the file closed), once the read's target path names
// another file or none: the blocks would go where nobody can reach them.
bool targetStillNamed(SessionState& state, Operator& op);
// A failure of `kind` about `file` at the current step, with its path and the OS's reason.
Failure fileFailure(FailureKind kind, const SessionState& state, const DataFile& file);

inline constexpr int fileAttempts = 20;

}  // namespace morva
