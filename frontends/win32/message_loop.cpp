#include "frontends/win32/message_loop.h"

#include <algorithm>

namespace morva::win32 {

namespace {

// Sleeps until a message comes or, while the program waits on the port, until the port has
// news or its deadline comes; then tells the program it may look at the port again.
void waitForWork(Program& program, LoopCounts& counts) {
  HANDLE handles[1] = {nullptr};
  DWORD handleCount = 0;
  DWORD timeout = INFINITE;
  const bool onPort = program.waitingOnPort();
  WaitHint hint;
  if (onPort) {
    hint = program.portWaitHint();
    if (hint.waitable != -1) handles[handleCount++] = reinterpret_cast<HANDLE>(hint.waitable);
    timeout = waitMilliseconds(hint.deadline, Clock::now());
  }
  ++counts.waits;
  // MWMO_INPUTAVAILABLE: a message that a modal loop looked at but left in the queue wakes
  // the wait too.
  const DWORD woken =
      MsgWaitForMultipleObjectsEx(handleCount, handles, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (!onPort) return;
  // Woken by a message, the loop takes it; but a stream of input (the mouse moved over the
  // window all the time) must not keep the port waiting past its deadline or its signal.
  if (woken == WAIT_OBJECT_0 + handleCount && Clock::now() < hint.deadline &&
      (handleCount == 0 || WaitForSingleObject(handles[0], 0) != WAIT_OBJECT_0))
    return;
  // The event, the deadline, or a wait that failed (a handle closed under it): either way the
  // port's answer may have changed.
  ++counts.portWakes;
  program.portReady();
}

}  // namespace

DWORD waitMilliseconds(Clock::time_point deadline, Clock::time_point now) {
  if (deadline <= now) return 0;
  const auto left = std::min<Clock::duration>(deadline - now, SessionLoop::longestWait);
  return static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

int runMessageLoop(MainWindow& window, Program& program, LoopCounts* counts) {
  LoopCounts ignored;
  LoopCounts& count = counts != nullptr ? *counts : ignored;
  MSG message{};
  for (;;) {
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
      TranslateMessage(&message);
      DispatchMessageA(&message);
      continue;
    }
    if (const auto step = program.stepToPost(window.modalOpen())) {
      ++count.stepsPosted;
      // A full queue would lose the step and stall the session: run it here instead.
      if (!PostMessageA(window.handle(), WM_USER, static_cast<WPARAM>(stepNumber(*step)), 0))
        program.runStep(*step, window.modalOpen());
      continue;
    }
    waitForWork(program, count);
  }
}

}  // namespace morva::win32
