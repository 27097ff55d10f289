// Plays an arbitrary device and operator, described by a fuzz input (fuzz/input_format.h),
// against the transfer engine: whole sessions through a scripted port and real data files,
// with the engine's invariants checked after every step.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "transfer/kinds.h"
#include "transfer/session_state.h"

namespace morva::fuzz {

struct SessionRecord {
  Direction direction = Direction::WriteToDevice;
  DataKind kind = DataKind::FirmwareUpgrade;
  int startResult = 0;
  SessionOutcome outcome = SessionOutcome::None;
  int lastStep = 0;         // the last step performed (0: none)
  unsigned blocksDone = 0;  // currentBlock - firstBlock at the end
  unsigned differencesAccepted = 0;
  bool identified = false;
};

struct RunReport {
  std::vector<std::string> violations;  // empty when every invariant held
  std::vector<SessionRecord> sessions;
  std::vector<std::string> messages;  // "Caption: text" of every message, in order
  long steps = 0;
};

// Runs the input's sessions with data files in `workDir`, which must exist; the files made
// there are removed before it returns. Stops at the first broken invariant.
RunReport runInput(std::span<const std::uint8_t> input, const std::filesystem::path& workDir);

}  // namespace morva::fuzz
