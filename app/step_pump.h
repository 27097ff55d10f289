// When a front end's event loop may run the next transfer step. One step is on its way at a
// time; none is posted while a modal window (message box, file or font chooser) is open, nor
// while the session waits on the port, so an idle program sleeps instead of spinning.
#pragma once

#include <optional>

#include "transfer/session_steps.h"

namespace morva {

class StepPump {
 public:
  // The loop has nothing else to do. The step number to post now, if any: a session runs
  // (transferStep is not Idle), no modal window is open, no step is on its way and the port is
  // not being waited on.
  std::optional<TransferStep> idle(TransferStep transferStep, bool modalOpen);
  // The posted step arrives. False when a modal window opened after it was posted: the step is
  // dropped, and the next idle moment after the window closed posts it again.
  bool deliver(bool modalOpen);
  // The step found its read or write still pending: nothing is posted until wake().
  void wait() { waiting_ = true; }
  // The port has news or its deadline came, or a command changed the session.
  void wake() { waiting_ = false; }
  bool waiting() const { return waiting_; }
  bool posted() const { return posted_; }

 private:
  bool posted_ = false;
  bool waiting_ = false;
};

}  // namespace morva
