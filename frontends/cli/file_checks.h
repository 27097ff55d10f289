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

// Whether two paths reach one file: by the OS's identity where both exist (a symbolic or
// hard link, a ".." through a link), otherwise by the paths the file system resolves.
bool sameFile(FileService& service, const std::string& a, const std::string& b);

}  // namespace morva::cli
