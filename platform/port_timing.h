// The device protocol's time-out rules for one serial port, free of any OS: one outstanding
// read or write at a time, a start that was refused kept until a poll reports it, a read that
// ends n x perByte after its start or one interval after its last byte, a gap read that waits
// one interval for a first byte, and a write bounded by n x perByte. The port tells it when
// bytes arrived (by the OS's stamp where there is one, else when it took them) and asks it
// whether the operation is over; the clock is injected, so tests move time by hand.
#pragma once

#include <cstddef>
#include <optional>

#include "transfer/os_error.h"
#include "transfer/serial_port.h"
#include "transfer/timeouts.h"

namespace morva {

class PortTiming {
 public:
  enum class Kind { Read, GapRead, Write };

  explicit PortTiming(TimeSource now = Clock::now);

  Clock::time_point now() const { return now_(); }
  void configure(const Timeouts& timeouts) { timeouts_ = timeouts; }
  const Timeouts& timeouts() const { return timeouts_; }

  // Begins an operation of `size` bytes now and forgets an unreported refused start. While
  // another operation is outstanding the start is refused with `busy` instead, and both are
  // abandoned. False when refused.
  bool begin(Kind kind, std::size_t size, const OsError& busy);
  // A start the port itself turned down (closed, the OS said no): nothing is outstanding, and
  // the next poll reports it.
  void refuse(OsError error);
  bool refusedStart() const { return refusal_.has_value(); }
  // Hands over a refused start once; a poll asks this first.
  std::optional<OsError> takeRefusal();
  // Purge and close: nothing outstanding, nothing refused.
  void clear();
  // The poll has answered Completed or Failed: the operation is over.
  void finish() { op_.reset(); }

  bool outstanding() const { return op_.has_value(); }
  Kind kind() const { return op_ ? op_->kind : Kind::Read; }
  bool reading() const { return op_ && op_->kind != Kind::Write; }
  std::size_t size() const { return op_ ? op_->size : 0; }
  std::size_t done() const { return op_ ? op_->done : 0; }
  std::size_t wanted() const { return size() - done(); }
  Clock::time_point started() const { return op_ ? op_->started : Clock::time_point{}; }

  // Whether a byte that arrived at `at` still belongs to the outstanding read: there is room
  // for it, it came before the read's total time-out, and no interval of silence lay between
  // it and the byte before it. A port that knows arrival times keeps the bytes refused here
  // for whatever comes next.
  bool accepts(Clock::time_point at) const;
  // `count` bytes of the read arrived at `at`.
  void arrived(std::size_t count, Clock::time_point at);
  // `count` more bytes of the write were taken by the OS.
  void wrote(std::size_t count);
  // A read is over at `at`: all its bytes came, its total time-out passed, or an interval
  // passed after its last byte. A write is over once its total time-out passed (the port
  // knows by itself when its bytes have left).
  bool over(Clock::time_point at) const;
  // When over() turns true if nothing arrives: the read's next time-out, the write's; now
  // after a refused start (it is due); never with nothing outstanding.
  Clock::time_point nextDeadline() const;

 private:
  struct Operation {
    Kind kind = Kind::Read;
    std::size_t size = 0;
    std::size_t done = 0;
    Clock::time_point started;
    Clock::time_point deadline;
    std::optional<Clock::time_point> lastByte;
  };

  TimeSource now_;
  Timeouts timeouts_ = lineTimeouts;
  std::optional<Operation> op_;
  std::optional<OsError> refusal_;
};

}  // namespace morva
