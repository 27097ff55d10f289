// The Windows console behind the command-line tool; Ctrl-C and Ctrl-Break ask the running
// session to stop.
#pragma once

#include "platform/console.h"

namespace morva {

class Win32Console : public Console {
 public:
  // Installs the console control handler for Ctrl-C and Ctrl-Break, and asks the console the
  // errors go to to take escape codes; the destructor undoes both. Closing the console window
  // still ends the process as usual.
  Win32Console();
  ~Win32Console() override;
  Win32Console(const Win32Console&) = delete;
  Win32Console& operator=(const Win32Console&) = delete;

  // A handle is a terminal when it is a console (GetConsoleMode succeeds on it); a pipe or a
  // file is not.
  bool inputIsTerminal() const override;
  bool errorIsTerminal() const override;
  // The console window's width.
  int errorColumns() const override;
  // Older consoles (and Wine's) show escape codes as they are: the progress line pads instead.
  bool errorTakesEscapes() const override { return escapes_; }
  std::optional<std::string> readLine() override;
  // The port's waits are not interrupted by Ctrl-C on Windows: the tool notices at its next
  // step, within the quarter second it waits at most.
  bool stopRequested() const override;

 private:
  void* error_ = nullptr;   // the console handle the errors go to, or null
  unsigned long mode_ = 0;  // its mode before we changed it
  bool escapes_ = false;
};

}  // namespace morva
