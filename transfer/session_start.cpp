// Starting a session: the kind's block range, the operator's file, its checks, the WakeUp.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "transfer/engine_internal.h"
#include "transfer/wording.h"

namespace morva {

namespace {

// The text after the last dot of the file's own name; empty when there is none.
std::string fileExtension(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool equalsIgnoringCase(const std::string& a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

StartResult refuse(SessionState& state, StartResult result,
                   SessionOutcome outcome = SessionOutcome::Failed) {
  state.outcome = outcome;
  return result;
}

// Records why the start failed and shows it.
void tell(SessionState& state, Operator& op, Failure failure) {
  state.failure = std::move(failure);
  op.showMessage(failureMessage(*state.failure));
}

void tell(SessionState& state, Operator& op, FailureKind kind) {
  tell(state, op, Failure{.kind = kind, .path = state.fileName});
}

// The extension rule: a file whose extension is not the kind's is refused, but for user data,
// which also travels as raw ".bin" images.
bool extensionAllowed(const SessionState& state, bool extensionDifferent) {
  return !extensionDifferent || (state.dataKind == DataKind::UserData &&
                                 equalsIgnoringCase(fileExtension(state.fileName), "bin"));
}

bool refuseExtension(SessionState& state, Operator& op) {
  tell(state, op, FailureKind::ExtensionChanged);
  return false;
}

// The operator's choice through the file chooser; false when there is none to use.
bool chooseDataFile(SessionState& state, const DirectionInfo& direction, const KindInfo& kind,
                    Operator& op) {
  const std::optional<FileChoice> choice =
      op.chooseFile(FileRequest{.title = std::string(direction.dialogTitle),
                                .filterDescription = std::string(kind.filterDescription),
                                .filterPattern = std::string(kind.filterPattern),
                                .initialName = state.fileName,
                                .defaultExtension = std::string(kind.defaultExtension),
                                .mustExist = direction.mustExist,
                                .createPrompt = direction.createPrompt});
  if (!choice) return false;
  state.fileName = choice->path;
  state.fileChosenFor = state.dataKind;
  return extensionAllowed(state, choice->extensionDifferent) || refuseExtension(state, op);
}

// A Repeat takes the last file as it stands. A write into another kind's blocks than the one
// the file was chosen for must pass the extension rule first: a firmware image repeated as the
// user data (a Stop chosen with the mouse passes over "User data" on its way) would overwrite
// the operator's show, and libraries written as a program would leave the controller unable
// to start.
bool repeatAllowed(SessionState& state, const KindInfo& kind, Operator& op) {
  if (state.direction != Direction::WriteToDevice || !state.fileChosenFor ||
      *state.fileChosenFor == state.dataKind)
    return true;
  return extensionAllowed(state,
                          extensionDiffers(state.fileName, std::string(kind.defaultExtension))) ||
         refuseExtension(state, op);
}

// The check of the chosen file against the direction; Started when it may be opened.
StartResult checkDataFile(SessionState& state, Operator& op) {
  if (state.files == nullptr) {
    tell(state, op, Failure{.kind = FailureKind::FileOpen});
    return refuse(state, StartResult::Failed);
  }
  const PathInfo path = state.files->inspect(state.fileName);
  const bool exists = path.kind != PathKind::Missing;
  if (state.direction != Direction::ReadFromDevice) {
    if (exists) return StartResult::Started;
    // Where the path is there but cannot be followed (a loop of links, no permission to look),
    // the OS's reason goes with it.
    tell(state, op,
         Failure{.kind = FailureKind::FileMissing,
                 .path = state.fileName,
                 .error = path.error.cause == FailureCause::NotFound ? OsError{} : path.error});
    return refuse(state, StartResult::Declined);
  }
  if (!exists) return StartResult::Started;
  if (op.showMessage(overwriteQuestion(state.fileName)) != Answer::Yes)
    return refuse(state, StartResult::Declined, SessionOutcome::Declined);
  if (!path.writeProtected) return StartResult::Started;
  tell(state, op, FailureKind::WriteAccessDenied);
  return refuse(state, StartResult::Failed);
}

StartResult sendWakeUp(SessionState& state, LinkPort& link, Operator& op) {
  link.ioBuffer[0] = ESC;
  startLinkWrite(link, 1);
  if (link.failedStart) {
    releaseFileLocks(state);  // the file stays open, but no session holds it
    tell(state, op, Failure{.kind = FailureKind::Communication, .error = *link.failedStart});
    return refuse(state, StartResult::Failed);
  }
  state.transferStep = TransferStep::AwaitWakeUpSent;
  state.sessionKind = state.dataKind;
  state.outcome = SessionOutcome::Running;
  op.invalidate(Area::Window, true);
  return StartResult::Started;
}

// The kind's block range and texts, the operator's file and every check of it; the file is
// open once this returns Started.
StartResult prepareFile(SessionState& state, LinkPort& link, Operator& op, FileSource source) {
  const DirectionInfo* direction = directionInfo(state.direction);
  if (direction == nullptr) return refuse(state, StartResult::OutOfRange);
  const KindInfo* kind = kindInfo(state.dataKind);
  if (kind == nullptr) return refuse(state, StartResult::OutOfRange);
  state.currentBlock = kind->firstBlock;
  state.blocksLeft = kind->blockCount;
  state.firstBlock = state.currentBlock;

  const bool fileUsable = source == FileSource::LastFile
                              ? repeatAllowed(state, *kind, op)
                              : chooseDataFile(state, *direction, *kind, op);
  if (!fileUsable) return refuse(state, StartResult::Failed);
  op.invalidate(Area::Window, true);
  if (const StartResult checked = checkDataFile(state, op); checked != StartResult::Started)
    return checked;
  if (!openDataFile(state, link, op)) return refuse(state, StartResult::Failed);
  return StartResult::Started;
}

void resetSession(SessionState& state, Operator& op) {
  // A session that was running is abandoned here; its file stays open until reopened.
  if (sessionRunning(state.transferStep)) endSession(state, op, SessionOutcome::Stopped);
  state.differences = state.differingBlocks = 0;
  state.firstDifference = state.lastDifference = 0;
  state.targetAwaitsTruncate = false;
  state.failure.reset();
}

}  // namespace

bool extensionDiffers(const std::string& path, const std::string& defaultExtension) {
  return !equalsIgnoringCase(fileExtension(path), defaultExtension);
}

bool fitsFilter(const std::string& path, const std::string& filterPattern) {
  const std::string extension = fileExtension(path);
  std::string_view patterns = filterPattern;
  while (!patterns.empty()) {
    const std::size_t end = std::min(patterns.find(';'), patterns.size());
    std::string_view pattern = patterns.substr(0, end);
    patterns.remove_prefix(std::min(end + 1, patterns.size()));
    if (pattern.starts_with("*.") && !extension.empty() &&
        equalsIgnoringCase(extension, pattern.substr(2)))
      return true;
  }
  return false;
}

StartResult startSession(SessionState& state, LinkPort& link, Operator& op, FileSource source) {
  resetSession(state, op);
  if (!link.portOpen()) {
    tell(state, op, Failure{.kind = FailureKind::NoPort});
    return refuse(state, StartResult::Failed);
  }
  if (const StartResult prepared = prepareFile(state, link, op, source);
      prepared != StartResult::Started)
    return prepared;
  return sendWakeUp(state, link, op);
}

StartResult checkSourceFile(SessionState& state, Operator& op) {
  if (state.direction == Direction::ReadFromDevice) return refuse(state, StartResult::OutOfRange);
  resetSession(state, op);
  LinkPort noPort;
  const StartResult checked = prepareFile(state, noPort, op, FileSource::Chooser);
  closeDataFile(state);
  if (checked == StartResult::Started) state.outcome = SessionOutcome::None;
  return checked;
}

}  // namespace morva
