// The log of every session (--log FILE): the record of a session that just ended, and the file
// the records are appended to, one line each, by as many runs as share it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "record/session_log.h"
#include "transfer/file_service.h"
#include "transfer/session_state.h"

namespace morva {

// What the session in `state` did, once it has ended: its kind, direction and file (`file`,
// absolute), how far it got and how it ended, the device's versions, and the SHA-256 of the
// data it sent or compared (the file's blocks that went) or of the file it read into, read
// through `files`. `port` is the port it ran on; `found` false for a port where no device
// answered (outcome "not-found", nothing else done).
SessionRecord recordOf(const SessionState& state, const std::string& port, const std::string& file,
                       std::chrono::system_clock::time_point start,
                       std::chrono::system_clock::time_point end, FileService& files,
                       bool found = true);

class SessionLog {
 public:
  // Opens `path` for appending, created when missing: refused (false, `why`) unless it is a
  // file, so that a folder or a pipe is turned down before any session runs.
  bool open(FileService& files, const std::string& path, std::string& why);
  // One line, written in one piece at the file's end: lines of runs sharing the log never mix.
  bool append(const SessionRecord& record, std::string& why);
  bool isOpen() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  // Whether a record could not be added since the log was opened.
  bool lostARecord() const { return lost_; }

 private:
  std::unique_ptr<OpenFile> file_;
  std::string path_;
  FileService* files_ = nullptr;
  bool lost_ = false;

  bool endsWithALine();
};

}  // namespace morva
