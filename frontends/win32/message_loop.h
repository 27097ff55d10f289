// The program's main loop: it dispatches the thread's messages and, whenever the queue is
// empty, posts the next transfer step to the main window. It never spins: with no step to
// post it sleeps until a message comes, and while the step's read or write is pending, until
// the port signals or its deadline comes.
#pragma once

#include <windows.h>

#include <chrono>

#include "app/program.h"
#include "frontends/win32/main_window.h"

namespace morva::win32 {

// What the loop did, for the tests that look at how it drives the program.
struct LoopCounts {
  long stepsPosted = 0;
  long waits = 0;      // times it slept with an empty queue
  long portWakes = 0;  // of those, the ones ended by the port (its signal or its deadline)
};

// Runs until WM_QUIT and returns its exit code.
int runMessageLoop(MainWindow& window, Program& program, LoopCounts* counts = nullptr);

// The time MsgWaitForMultipleObjectsEx is given to wait for `deadline`: whole milliseconds
// rounded up, 0 once it has passed, never more than the session loop's longest wait.
DWORD waitMilliseconds(Clock::time_point deadline, Clock::time_point now);

}  // namespace morva::win32
