// Where a transfer session stands: its steps, in the order a block's cycle runs them, and how
// it ended. Front ends, the display and the tests name steps by these, never by number.
#pragma once

namespace morva {

// The steps carry the system's own numbers, which the main loop posts and the status line
// shows: 1 and 2 are the handshake, 3 to 9 one block's cycle.
enum class TransferStep : int {
  Idle = 0,
  AwaitWakeUpSent = 1,      // the WakeUp write is under way
  AwaitIdentification = 2,  // the device's identification is due
  SendCommand = 3,          // the block command goes out next
  AwaitCommandSent = 4,
  AwaitCommandAnswer = 5,
  AwaitDataSent = 6,    // writes: the data frame is under way
  AwaitDataAnswer = 7,  // writes: the device's answer to the frame is due
  AwaitDataFrame = 8,   // reads and verifications: the device's data frame is due
  CountBlock = 9,       // the block is done: count it, then the next cycle or the end
};

constexpr int stepNumber(TransferStep step) {
  return static_cast<int>(step);
}
constexpr bool sessionRunning(TransferStep step) {
  return step != TransferStep::Idle;
}
// Past the handshake: blocks are being exchanged.
constexpr bool exchangingBlocks(TransferStep step) {
  return stepNumber(step) >= stepNumber(TransferStep::SendCommand);
}

// How the last session ended, for front ends that report it (the command-line exit status).
enum class SessionOutcome { None, Running, Completed, Failed, Declined, Stopped };

}  // namespace morva
