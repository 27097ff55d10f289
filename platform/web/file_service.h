// The data files of the page. A page sees no paths, only what the person chose: a source is
// the chosen file, read whole when the session opens it (its length is fixed then, as on the
// desktop); a target collects the blocks and hands them to the browser when it is closed,
// through the File System Access API where the browser has it, otherwise as a download. The
// names the engine sees are the files' names as the chooser recorded them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transfer/file_service.h"

namespace morva {

// A file held in memory: what a source holds, or what a target has been given so far.
class MemoryFile : public OpenFile {
 public:
  explicit MemoryFile(std::vector<std::uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}

  ReadResult read(std::span<std::uint8_t> into) override;
  bool write(std::span<const std::uint8_t> bytes) override;
  bool seek(std::uint64_t offset) override;
  std::optional<std::uint64_t> length() override { return bytes_.size(); }
  bool truncate(std::uint64_t length) override;
  PathKind kind() override { return PathKind::Regular; }
  bool isAt(const std::string&) override { return true; }
  // Nothing to share: each session's file is the page's own copy.
  bool lock(LockKind) override { return true; }
  void unlock() override {}
  bool close() override { return true; }
  const OsError& lastError() const override { return error_; }

 protected:
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  OsError error_;

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

class WebFileService : public FileService {
 public:
  // A chosen source is a file; a target the person named is not there yet for the engine (the
  // browser's save dialog has asked about replacing one already); any other name is missing.
  PathInfo inspect(const std::string& path) override;
  std::unique_ptr<OpenFile> open(const std::string& path, OpenMode mode, OsError& error) override;
};

}  // namespace morva
