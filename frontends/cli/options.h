// The command line of morva-cli.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/kinds.h"

namespace morva::cli {

// Exit statuses; `morva-cli --help` documents them.
inline constexpr int exitComplete = 0;
inline constexpr int exitTransferFailed = 1;  // a failed, declined or differing session
inline constexpr int exitUsage = 2;
inline constexpr int exitNoDevice = 3;    // no port, or the device was not found
inline constexpr int exitNotStarted = 4;  // the session could not start (file, extension...)
inline constexpr int exitStopped = 130;   // stopped with Ctrl-C

enum class Command { Help, Version, Ports, Detect, Transfer, Log };

// What a file name holds in place of the port's name with --all: "show-{port}.usr".
inline constexpr std::string_view portPlaceholder = "{port}";
// The most simulated controllers --simulate=N starts.
inline constexpr int mostSimulated = 32;

struct Options {
  Command command = Command::Help;
  Direction direction = Direction::WriteToDevice;
  DataKind kind = DataKind::FirmwareUpgrade;
  std::string file;
  std::vector<std::string> ports;  // --port, repeatable
  bool yes = false;
  bool trace = false;
  bool simulate = false;
  bool simulateReset = false;  // the simulated device starts with an empty memory
  bool quiet = false;          // no progress display; the closing line stays
  bool verifyAfter = false;    // write: verify the file against the device once written
  std::string backup;          // write: read the range into this file first
  bool all = false;            // every port where a Vk350 answers, side by side
  int simulated = 1;           // --simulate=N: that many simulated controllers
  std::string log;             // --log: a record of every session appended here
  std::string logToShow;       // the log command's FILE
};

struct ParseResult {
  std::optional<Options> options;
  std::string error;  // why the command line was refused, in one line
};

ParseResult parseOptions(const std::vector<std::string>& args);
std::string usageText();
// What a refused command line prints: the reason, then where to read more.
std::string usageError(const std::string& error);

}  // namespace morva::cli
