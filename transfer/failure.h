// Why a session could not start, or ended before its last block, as a value the session keeps
// (SessionState::failure): front ends and tests look at what failed, and wording.h alone turns
// it into the box the operator sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "transfer/os_error.h"
#include "transfer/session_steps.h"

namespace morva {

enum class FailureKind {
  NoPort,             // no port is open for the session
  ExtensionChanged,   // the chosen file's extension is not the kind's
  FileMissing,        // a write's or a verification's file does not exist
  WriteAccessDenied,  // a read's existing file is write-protected
  FileOpen,           // the data file could not be opened or emptied
  Communication,      // the WakeUp could not even be started
  PortError,          // a poll of the port failed
  Initialization,     // the identification was wrong
  Acknowledgment,     // the answer to a block command was wrong
  Transmission,       // a data frame, or the answer to one, was wrong
  FileRead,           // a block could not be read from the data file
  FileWrite,          // a block could not be written into the data file
};

// What was wrong with the device's answer, for the three kinds about answers.
enum class AnswerFault {
  None,
  NoData,       // fewer bytes than the answer has (`count` of them), or more
  Nak,          // the device refused
  IllegalByte,  // a byte that is neither ACK nor NAK (`byte`), or one that came unasked
  Checksum,     // the answer's sum was `byte`, not 0
};

struct Failure {
  FailureKind kind = FailureKind::PortError;
  TransferStep step = TransferStep::Idle;  // the step that failed; Idle for a session start
  AnswerFault answer = AnswerFault::None;
  std::size_t count = 0;  // NoData: the bytes that came
  std::uint8_t byte = 0;  // IllegalByte: the byte; Checksum: the residue
  std::string path{};     // the data file, for the kinds about files
  OsError error{};        // the OS's reason (PortError, Communication: its number)
  bool operator==(const Failure&) const = default;
};

// The failure of a one-byte answer (`count` bytes, the first of them `byte`): NoData unless
// exactly one byte came, then Nak or IllegalByte.
Failure answerFailure(FailureKind kind, TransferStep step, std::size_t count, std::uint8_t byte);

}  // namespace morva
