// The data files as the engine reaches the OS: what a path names, and a file opened for one
// direction of a session, used from then on through what the OS handed out (a descriptor or a
// handle), never by its path looked up again. Each OS layer implements it; the front ends own
// the service and lend it to the engine (SessionState::files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "transfer/file_identity.h"
#include "transfer/os_error.h"

namespace morva {

enum class PathKind {
  Missing,      // nothing there, or nothing the OS lets us look at
  Regular,      // a file
  BlockDevice,  // a disk or a partition: it has a length and keeps what is written
  Directory,
  Other,  // a pipe, a character device, a socket...
};

struct PathInfo {
  PathKind kind = PathKind::Missing;
  bool writeProtected = false;           // like a read-only attribute: nobody may write to it
  std::optional<FileIdentity> identity;  // where the OS tells it
  OsError error;                         // why the path could not be looked at (kind Missing)
};

// How a session opens its data file.
enum class OpenMode {
  Read,       // a source: read only; opening never waits (for a pipe's writer)
  Update,     // an existing target: read and write, its content kept until emptied
  CreateNew,  // a missing target: created (read and write), refused when something appeared
  WriteOnly,  // a device or a pipe as a target: write only, nothing created or emptied
  Append,     // a log: created when missing, every write added at its end, whoever else writes
};

enum class LockKind { Shared, Exclusive };

class OpenFile {
 public:
  virtual ~OpenFile() = default;

  struct ReadResult {
    std::size_t count = 0;
    bool endOfFile = false;  // fewer bytes because the file has ended
    bool error = false;      // the OS failed the read (lastError()): not the end
  };
  // Reads until `into` is full, the file ends or the OS fails.
  virtual ReadResult read(std::span<std::uint8_t> into) = 0;
  // Hands every byte to the OS; false (lastError()) when it took fewer. What it took stays.
  virtual bool write(std::span<const std::uint8_t> bytes) = 0;
  virtual bool seek(std::uint64_t offset) = 0;
  // The length now, asked through the open file: a block device's capacity; none for a pipe
  // or a character device.
  virtual std::optional<std::uint64_t> length() = 0;
  // Cuts the open file to `length` bytes; the position is left where it was.
  virtual bool truncate(std::uint64_t length) = 0;
  // What the open file is: a path replaced since the open does not change it.
  virtual PathKind kind() = 0;
  // Which file or device it is; none where the OS cannot tell.
  virtual std::optional<FileIdentity> identity() { return std::nullopt; }
  // A terminal or a serial line: what is written goes to a person or a device, not into a file.
  virtual bool isTerminal() { return false; }
  // True while `path` names this very file: false once another file was put in its place or
  // the path was removed (lastError() says why the path could not be looked at, if so).
  virtual bool isAt(const std::string& path) = 0;
  // An advisory lock that other sessions' programs take as well, never waited for: false
  // (lastError(), cause Busy) while another open of the file holds a lock that excludes it.
  // Where the file system keeps no locks, there is nothing to take, and it returns true.
  virtual bool lock(LockKind kind) = 0;
  virtual void unlock() = 0;
  // Releases the file (and its lock); false (lastError()) when the OS reported a failure.
  virtual bool close() = 0;
  virtual const OsError& lastError() const = 0;
};

class FileService {
 public:
  virtual ~FileService() = default;
  // Follows symbolic links, as opening does.
  virtual PathInfo inspect(const std::string& path) = 0;
  // Null, with `error` set, when the OS refuses.
  virtual std::unique_ptr<OpenFile> open(const std::string& path, OpenMode mode,
                                         OsError& error) = 0;
};

}  // namespace morva
