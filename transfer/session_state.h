// The transfer session's state: what is moved, which way, where the exchange stands, the data
// file and the device's version texts. One instance lives in the program object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transfer/data_file.h"
#include "transfer/failure.h"
#include "transfer/file_service.h"
#include "transfer/kinds.h"
#include "transfer/session_steps.h"

namespace morva {

struct SessionState {
  DataKind dataKind = DataKind::FirmwareUpgrade;
  Direction direction = Direction::WriteToDevice;
  TransferStep transferStep = TransferStep::Idle;

  std::uint16_t currentBlock = 0;
  std::uint16_t blocksLeft = 0;
  std::uint16_t firstBlock = 0;
  std::uint8_t checksumResidue = 0;

  std::string fileName;  // kept from session to session
  // The kind fileName was last chosen for in the file chooser, accepted or refused.
  std::optional<DataKind> fileChosenFor;
  std::string firmwareVersionText = "N/A";
  std::string secondVersionText = "N/A";

  // The kind the running session started with: the menus may be highlighted meanwhile.
  DataKind sessionKind = DataKind::FirmwareUpgrade;

  // The OS's data files, lent by the front end; the session's files are reached only here.
  FileService* files = nullptr;
  DataFile sourceFile;  // write and verify
  DataFile targetFile;  // read
  SessionOutcome outcome = SessionOutcome::None;
  // Why the last session failed or could not start; none while one runs or after a success.
  std::optional<Failure> failure;
  // What a verification found different where the operator went on: bytes, the blocks they
  // lie in, and the file offsets of the first and the last.
  unsigned differences = 0;
  unsigned differingBlocks = 0;
  std::uint32_t firstDifference = 0;
  std::uint32_t lastDifference = 0;

  // A read's existing target keeps its old content until the device has identified itself.
  bool targetAwaitsTruncate = false;
  // The last answer is in; the session ends once the line has stayed quiet for one gap after
  // it (the step that found the end stays current meanwhile).
  bool quietCheckPending = false;
};

}  // namespace morva
