// A data file: a raw image of 256-byte blocks, read or written strictly in block order, through
// the OS's data-file service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transfer/file_service.h"

namespace morva {

class DataFile {
 public:
  enum class Mode { Input, Output };
  using ReadResult = OpenFile::ReadResult;

  DataFile() = default;
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;
  ~DataFile();

  // Closes whatever was open, then opens `path` through `files`. Output never empties an
  // existing file here (see truncate()); a missing output file is created. False (lastError())
  // when the OS refused. Input must be a file or a disk, whose reads end: anything else is
  // refused once open (lastError()), before a byte is read. It is read at the length it has
  // now: see read().
  bool open(FileService& files, const std::string& path, Mode mode);
  // Closes the file; false when the OS reported that its blocks could not be written out.
  bool close();
  bool isOpen() const { return file_ != nullptr; }

  // Empties the open output file through what the OS handed out, never by its path, and
  // writes from its start again. A device or a pipe has nothing to empty.
  bool truncate();
  // Cuts an output file back to `length` bytes (a device or a pipe keeps what it was given).
  bool cutTo(std::uint64_t length);
  // True while the path it was opened by still names the open file.
  bool stillAtPath();
  const std::string& path() const { return path_; }
  // Which file or device is open; none when closed or where the OS cannot tell.
  std::optional<FileIdentity> identity();
  // A terminal or a serial line is open, not a file (false when closed).
  bool isTerminal();

  // An input file ends where it ended when opened, whatever has been added since; an end met
  // before that (the file shrank under us) is an error, not the end.
  ReadResult read(std::span<std::uint8_t> into);
  // True only when every byte reached the OS.
  bool write(std::span<const std::uint8_t> bytes);
  // An output file reads back as exactly what was written into it since it was emptied: no
  // other program cut it short or wrote into it meanwhile. A device or a pipe, which cannot be
  // read back, always does. False (lastError()) otherwise.
  bool holdsWhatWasWritten();
  bool seek(std::uint32_t offset);

  // The advisory lock of a session (shared for a source, exclusive for a target), taken on a
  // file or a disk; a pipe or a device has nothing two sessions could mix up. False
  // (lastError()) while another session of ours holds the file.
  bool lock();
  void unlock();

  // Why the last open, read, write or close failed.
  const OsError& lastError() const { return lastError_; }

 private:
  bool failed();

  std::unique_ptr<OpenFile> file_;
  std::string path_;
  Mode mode_ = Mode::Input;
  std::optional<std::uint64_t> length_;  // an input's length when opened
  std::uint64_t position_ = 0;
  OsError lastError_;
  // What an output file should hold: every byte written, at its place.
  std::vector<std::uint8_t> written_;
};

}  // namespace morva
