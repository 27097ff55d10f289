// The record of every session: one JSON object on a line of its own, appended to a log file
// that several runs may share, and read back to be shown as a table.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morva {

struct SessionRecord {
  std::string start;  // ISO 8601 in UTC: "2026-12-10T12:34:56Z"
  std::string end;
  std::string program;  // our version
  std::string port;
  std::array<std::string, 2> versions;  // the device's two texts, "N/A" when unknown
  std::string kind;                     // "program", "libraries", "user"
  std::string direction;                // "write", "read", "verify"
  std::string file;                     // absolute
  std::uint64_t bytes = 0;
  std::string sha256;  // of the data sent, or of the file as read back
  unsigned blocks = 0;
  unsigned blocksDone = 0;
  std::string outcome;  // "completed", "failed", "declined", "stopped", "not-found"
  std::string message;  // the failure's caption and text, else empty
  bool operator==(const SessionRecord&) const = default;
};

// "2026-12-10T12:34:56Z".
std::string isoTime(std::chrono::system_clock::time_point when);

// The record as one line of JSON (no newline): the keys in the order above. Bytes that are not
// UTF-8 (a file name from an old disk) become U+FFFD, so that the line stays valid JSON.
std::string toJsonLine(const SessionRecord& record);

// A line of the log; none, with `why`, when it is not one object holding the keys above.
// Unknown keys are skipped, so that a later version's log still reads.
std::optional<SessionRecord> parseJsonLine(std::string_view line, std::string& why);

// The log as a table for a terminal, one row per session in the order given (newest last).
std::string recordTable(const std::vector<SessionRecord>& records);

// Rows of cells as a table for a terminal: each column as wide as its widest cell, two spaces
// between columns, no blanks at a line's end.
std::string alignedColumns(const std::vector<std::vector<std::string>>& rows);

}  // namespace morva
