// What the serial port of every OS does the same way around its own calls: one read or write
// outstanding at a time, kept with its time-outs by a PortTiming on the port's clock; a start
// that failed is reported by the next poll; the last failure is remembered; a poll, a wait
// hint or a wait with nothing to ask the OS about answers here instead of guessing.
#pragma once

#include <cstddef>
#include <utility>

#include "platform/port_timing.h"
#include "transfer/clock.h"
#include "transfer/serial_port.h"

namespace morva {

// The OS's own errors for the refusals every port makes alike.
struct PortRefusals {
  OsError notOpen;             // anything but open() on a closed port
  OsError busy;                // a start while another operation is outstanding
  OsError nothingOutstanding;  // a poll with nothing to ask about
};

class PortSkeleton : public SerialPort {
 public:
  // Completed, Pending or Failed: a failed start first, then a closed port, then no operation
  // outstanding; otherwise the OS's own answer (pollOutstanding), after which an answer that
  // is not Pending ends the operation.
  PollResult poll() override;
  // After a failed start: due now, nothing to watch. Closed or idle: nothing. Otherwise the
  // OS's (outstandingHint).
  WaitHint waitHint() const override;
  // Returns at once unless an operation is outstanding on an open port and the hint's deadline
  // and `until` are both ahead; then waits on the OS (waitOutstanding) until the earlier.
  void waitForProgress(Clock::time_point until) override;
  const OsError& lastError() const final { return lastError_; }

 protected:
  explicit PortSkeleton(PortRefusals refusals, TimeSource now = Clock::now)
      : refusals_(std::move(refusals)), timing_(std::move(now)) {}

  // Asks the OS once, without waiting, about the outstanding operation of an open port.
  virtual PollResult pollOutstanding() = 0;
  // What to wait on, and until when, for the outstanding operation of an open port.
  virtual WaitHint outstandingHint() const = 0;
  // Waits on the OS for news of the outstanding operation, at most until `limit`.
  virtual void waitOutstanding(Clock::time_point limit) = 0;
  // A start while an operation is outstanding abandons that one: a port whose OS still works
  // on it (and on its buffer) makes it let go here.
  virtual void abandonOutstanding() {}

  // Begins a read, gap read or write of `size` bytes on the port's clock. A closed port
  // refuses it; so does a port with an operation outstanding, and both are abandoned. False
  // when refused: the next poll reports why.
  bool beginOperation(PortTiming::Kind kind, std::size_t size);
  // Records the error; always false, for `return fail(...)`.
  bool fail(OsError error);
  // A start that failed after all (the OS said no): nothing is outstanding, and the next poll
  // reports it. Always false.
  bool refuseStart(OsError error);
  // Purge and close: nothing outstanding, nothing refused to report.
  void forgetOperation() { timing_.clear(); }

  PortTiming& timing() { return timing_; }
  const PortTiming& timing() const { return timing_; }
  Clock::time_point now() const { return timing_.now(); }

 private:
  PortRefusals refusals_;
  PortTiming timing_;
  OsError lastError_;
};

}  // namespace morva
