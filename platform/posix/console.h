// The POSIX terminal behind the command-line tool; Ctrl-C asks the running session to stop.
#pragma once

#include "platform/console.h"

namespace morva {

class PosixConsole : public Console {
 public:
  // Installs the SIGINT and SIGTERM handlers (without SA_RESTART, so that a wait on the port
  // returns at once) and ignores SIGPIPE.
  PosixConsole();
  bool inputIsTerminal() const override;
  bool errorIsTerminal() const override;
  std::optional<std::string> readLine() override;
  bool stopRequested() const override;
  // The terminal's own width, else $COLUMNS.
  int errorColumns() const override;
};

}  // namespace morva
