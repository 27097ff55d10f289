// The desktop program put together: the main window, the program behind it and the step
// driver, for main() and for the tests that run the whole thing.
#pragma once

#include "app/program.h"
#include "frontends/qt/dialogs.h"
#include "frontends/qt/main_window.h"
#include "frontends/qt/step_driver.h"

namespace morva::qt {

class FrontEnd {
 public:
  // Needs the application object.
  FrontEnd(Dialogs& dialogs, SerialPort& port, PortLister& lister, ProgramOptions options);

  // Start-up; exitNoPort when no port is listed (the window was never shown), else 0.
  int start() { return program_.start(); }
  // Start-up, the event loop until the window closes, and shutdown: the exit status.
  int run();

  MainWindow& window() { return window_; }
  Program& program() { return program_; }
  StepDriver& driver() { return driver_; }

 private:
  MainWindow window_;
  Program program_;
  StepDriver driver_;
};

}  // namespace morva::qt
