// What the serial port of every OS does the same way around its own calls: it remembers why
// the last call failed, a start that failed is reported by the next poll, and a poll with
// nothing to ask about fails instead of guessing.
#pragma once

#include <optional>

#include "transfer/serial_port.h"

namespace morva {

class PortSkeleton : public SerialPort {
 public:
  // Completed, Pending or Failed: a failed start first, then a closed port, then no operation
  // outstanding; otherwise the OS's own answer (pollOutstanding).
  PollResult poll() final;
  const OsError& lastError() const final { return lastError_; }

 protected:
  // The OS's errors for a closed port and for a poll with nothing outstanding.
  virtual OsError notOpenError() const = 0;
  virtual OsError nothingOutstandingError() const = 0;
  virtual bool outstanding() const = 0;
  // Asks the OS once, without waiting, about the outstanding operation of an open port, and
  // forgets that operation once the answer is not Pending.
  virtual PollResult pollOutstanding() = 0;

  // Records the error; always false, for `return fail(...)`.
  bool fail(OsError error);
  // A start that failed: the next poll reports it. Always false.
  bool refuseStart(OsError error);
  // Forgets an unreported failed start (a new start, a purge or a close overtakes it).
  void forgetFailedStart() { startError_.reset(); }
  bool startFailed() const { return startError_.has_value(); }

 private:
  std::optional<OsError> startError_;
  OsError lastError_;
};

}  // namespace morva
