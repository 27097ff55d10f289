// A data file: a raw image of 256-byte blocks, read or written strictly in block order.
// Built on the C stream library because it tells a read error from the end of the file and
// reports a failed flush, which a block that must reach the disk needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace morva {

class DataFile {
 public:
  enum class Mode { Input, Output };

  DataFile() = default;
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;
  ~DataFile();

  // Closes whatever was open, then opens `path`. Output never empties an existing file here
  // (see truncate()); a missing output file is created. False when the stream is not usable.
  bool open(const std::string& path, Mode mode);
  // Closes the stream; false when buffered blocks could not be written out.
  bool close();
  bool isOpen() const { return file_ != nullptr; }

  // Empties the open output file and writes from its start again.
  bool truncate();

  struct ReadResult {
    std::size_t count = 0;
    bool endOfFile = false;  // fewer bytes because the file has ended
    bool error = false;      // a genuine read error, not the end
  };
  ReadResult read(std::span<std::uint8_t> into);
  // Writes and flushes; true only when the bytes reached the OS.
  bool write(std::span<const std::uint8_t> bytes);
  bool seek(std::uint32_t offset);
  void clearState();

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  Mode mode_ = Mode::Input;
};

}  // namespace morva
