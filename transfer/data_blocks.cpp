// The session's data file, block by block: a raw image of 256-byte blocks whose first block is
// the session's firstBlock.
#include <algorithm>

#include "transfer/engine_internal.h"
#include "transfer/wording.h"

namespace morva {

namespace {

enum class BlockRead { Full, EndOfFile, Failed };

// Where the current block starts in the file; only a retry positions the stream explicitly.
std::uint32_t blockOffset(const SessionState& state) {
  return static_cast<std::uint32_t>(state.currentBlock - state.firstBlock) * blockSize;
}

// Reads the file's next block into `block`, zero-filling what lies past the end. A read error
// is not the end of the file: the read is repeated from the block's start.
BlockRead readBlock(DataFile& file, std::uint32_t offset, Block block) {
  for (int attempt = 0; attempt < fileAttempts; ++attempt) {
    if (attempt > 0) file.seek(offset);
    const DataFile::ReadResult read = file.read(block);
    if (read.endOfFile) {
      std::fill(block.begin() + static_cast<std::ptrdiff_t>(read.count), block.end(), 0);
      return BlockRead::EndOfFile;
    }
    if (read.count == blockSize) return BlockRead::Full;
  }
  return BlockRead::Failed;
}

DataFile& directionFile(SessionState& state) {
  return state.direction == Direction::ReadFromDevice ? state.targetFile : state.sourceFile;
}

// A FileOpen failure with the path and the reason, recorded and shown; the file is left closed.
bool refuseOpen(SessionState& state, DataFile& file, Operator& op, OsError why) {
  file.close();
  state.failure = Failure{.kind = FailureKind::FileOpen, .path = state.fileName, .error = why};
  op.showMessage(failureMessage(*state.failure));
  return false;
}

OsError ownReason(std::string text) {
  return OsError{0, std::move(text), FailureCause::Other};
}

}  // namespace

// The session's own serial port reached through a path (a link to the pty, the device node): a
// read would echo the device's blocks back to it as commands, and save nothing.
bool isSessionPort(DataFile& file, const LinkPort& link) {
  if (link.port == nullptr) return false;
  const std::optional<FileIdentity> port = link.port->identity();
  return port && file.identity() == port;
}

bool openDataFile(SessionState& state, LinkPort& link, Operator& op) {
  DataFile& file = directionFile(state);
  file.close();
  const bool reading = state.direction == Direction::ReadFromDevice;
  const std::string& path = state.fileName;
  // A directory opens on some systems, and then fails at every read.
  if (state.files->inspect(path).kind == PathKind::Directory)
    return refuseOpen(state, file, op, ownReason("a folder, not a file"));
  if (!file.open(*state.files, path, reading ? DataFile::Mode::Output : DataFile::Mode::Input))
    return refuseOpen(state, file, op, file.lastError());
  if (isSessionPort(file, link))
    return refuseOpen(state, file, op, ownReason("the serial port of this session, not a file"));
  // Blocks written to another device's line would be taken there as commands, and kept nowhere.
  if (reading && file.isTerminal())
    return refuseOpen(state, file, op, ownReason("a serial line or a terminal, not a file"));
  // Two sessions of ours never read and write one file at once.
  if (!file.lock()) return refuseOpen(state, file, op, file.lastError());
  state.targetAwaitsTruncate = reading;
  return true;
}

Failure fileFailure(FailureKind kind, const SessionState& state, const DataFile& file) {
  return Failure{
      .kind = kind, .step = state.transferStep, .path = file.path(), .error = file.lastError()};
}

bool targetStillNamed(SessionState& state, Operator& op) {
  if (state.targetFile.stillAtPath()) return true;
  Failure failure = fileFailure(FailureKind::FileWrite, state, state.targetFile);
  failure.error = ownReason(
      "another file was put in its place, or it was removed, while the device's blocks were "
      "being written into it");
  failTransfer(failure, true, state, op);
  return false;
}

bool closeDataFile(SessionState& state) {
  return directionFile(state).close();
}

bool readBlockToSend(SessionState& state, LinkPort& link, Operator& op) {
  switch (readBlock(state.sourceFile, blockOffset(state), Block(link.ioBuffer.data(), blockSize))) {
    case BlockRead::Full:
      return true;
    case BlockRead::EndOfFile:
      state.blocksLeft = 1;  // the block that met the end is the session's last
      return true;
    case BlockRead::Failed:
      break;
  }
  failTransfer(fileFailure(FailureKind::FileRead, state, state.sourceFile), true, state, op);
  return false;
}

bool readBlockToCompare(SessionState& state, Block block, bool& endOfFileMet, Operator& op) {
  const BlockRead read = readBlock(state.sourceFile, blockOffset(state), block);
  endOfFileMet = read == BlockRead::EndOfFile;
  if (read != BlockRead::Failed) return true;
  failTransfer(fileFailure(FailureKind::FileRead, state, state.sourceFile), false, state, op);
  return false;
}

bool writeReceivedBlock(SessionState& state, LinkPort& link, Operator& op) {
  const auto block = std::span<const std::uint8_t>(link.ioBuffer).first(blockSize);
  for (int attempt = 0; attempt < fileAttempts; ++attempt) {
    if (attempt > 0) state.targetFile.seek(blockOffset(state));
    // A block counts as written only once the OS has it: a stopped or killed session must
    // not lose what the device already sent.
    if (state.targetFile.write(block)) return true;
  }
  // A write that failed part-way (a full disk, a size limit) leaves part of the block behind:
  // the file ends at the last whole block received.
  const Failure failure = fileFailure(FailureKind::FileWrite, state, state.targetFile);
  state.targetFile.cutTo(blockOffset(state));
  failTransfer(failure, true, state, op);
  return false;
}

}  // namespace morva
