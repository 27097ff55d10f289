// The checks of a run's files that need no device: made before any port is opened or any file
// touched, so that a refusal leaves the devices, their lines and every file as they were.
#pragma once

#include <string>
#include <vector>

#include "frontends/cli/cli_app.h"
#include "frontends/cli/terminal_operator.h"
#include "transfer/session_state.h"

namespace morva::cli {

// The files of a run (or of one port's sessions with --all), as the sessions use them.
struct RunFiles {
  Direction direction = Direction::WriteToDevice;
  DataKind kind = DataKind::FirmwareUpgrade;
  std::string file;
  std::string backup;  // empty: none

  // The files the device is read into.
  std::vector<std::string> targets() const;
};

// The source's own checks (it exists, has the kind's extension, opens as a file), then a
// backup's (not the source, a file), then that no target is where standard output or error
// go. exitComplete when all pass; otherwise, said on env.err or through `op`, the exit status.
int checkFilesFirst(const RunFiles& files, Environment& env, SessionState& state,
                    TerminalOperator& op);
// No target is a simulated device's memory file, which it saves over as the run ends.
int checkTargetsAgainst(const std::vector<std::string>& memories, const RunFiles& files,
                        Environment& env);

// A file a run uses: what it is to the run, and whether the run writes into it.
struct FileUse {
  std::string path;
  std::string role;  // "the log", "the backup of ttyUSB0", ...
  bool written = false;
  int owner = -1;  // the port whose session uses it (its own aliases are checked there), or -1
};

// The uses of a run's files: `files` (for the port `owner` named `port`, or for the one port)
// appended to `uses`.
void addUses(std::vector<FileUse>& uses, const RunFiles& files, int owner = -1,
             const std::string& port = "");
// The log and the simulated devices' memories, which are written as the run goes or ends.
void addSharedUses(std::vector<FileUse>& uses, const std::string& log,
                   const std::vector<std::string>& memories);
// No file the run writes is also another of its files (another port's source, a port, the
// log, a simulated device's memory): exitNotStarted, said on env.err, when one is.
int checkUsesApart(const std::vector<FileUse>& uses, Environment& env);

// Whether two paths reach one file: by the OS's identity where both exist (a symbolic or
// hard link, a ".." through a link), otherwise by the paths the file system resolves.
bool sameFile(FileService& service, const std::string& a, const std::string& b);

}  // namespace morva::cli
