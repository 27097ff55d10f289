// The serial port as the transfer engine and the device search see it: one port at a time,
// at most one outstanding read or write, learned about only by polling without waiting.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "transfer/clock.h"
#include "transfer/file_identity.h"
#include "transfer/os_error.h"
#include "transfer/timeouts.h"

namespace morva {

// The closed set of answers a poll can give.
struct PollResult {
  enum class State { Pending, Completed, Failed };
  State state = State::Pending;
  std::size_t count = 0;  // bytes moved, when Completed
  OsError error;          // when Failed

  static PollResult pending() { return {}; }
  static PollResult completed(std::size_t n) { return {State::Completed, n, {}}; }
  static PollResult failed(OsError e) { return {State::Failed, 0, std::move(e)}; }
  bool isPending() const { return state == State::Pending; }
  bool isCompleted() const { return state == State::Completed; }
  bool isFailed() const { return state == State::Failed; }
};

// What a front end waits on so that its loop never spins while an operation is pending:
// the waitable (a POSIX descriptor, or a Windows event handle) and the moment by which the
// poll's answer may change even if the waitable stays quiet (a timeout, a draining write).
struct WaitHint {
  std::intptr_t waitable = -1;  // -1: nothing to watch, only the deadline
  Clock::time_point deadline = Clock::time_point::max();
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the named port for exclusive use. On failure returns false; lastError() says why.
  virtual bool open(const std::string& name) = 0;
  // 38400 baud, 8 data bits, no parity, 1 stop bit, raw, no flow control; reads and writes
  // end by `timeouts`. False (lastError()) when the port refuses.
  virtual bool configure(const Timeouts& timeouts) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  // Discards both queues and aborts the outstanding read or write.
  virtual bool purge() = 0;
  // Sends one byte ahead of any queued output.
  virtual bool transmitPriority(std::uint8_t byte) = 0;

  // Starts a read of buffer.size() bytes into buffer, which must stay valid until the read has
  // completed or was purged. It completes with n bytes, or with what came when the time-outs
  // given to configure() have passed: per byte since the start, or the interval after a byte.
  // A start that fails returns false and makes the next poll() fail with the same error.
  virtual bool startRead(std::span<std::uint8_t> buffer) = 0;
  // Starts a write; it completes once the bytes have left (where the OS can tell), bounded by
  // the per-byte time-out. Same failure rule as startRead.
  virtual bool startWrite(std::span<const std::uint8_t> bytes) = 0;

  // Takes, without waiting, up to buffer.size() bytes that have arrived and that no read has
  // taken: between two exchanges, input nothing asked for. 0 when there are none, while an
  // operation is outstanding, or when the OS cannot tell (a gone device fails the next start).
  virtual std::size_t takeUnasked(std::span<std::uint8_t> buffer) = 0;
  // Starts a read like startRead() that waits one inter-byte gap (the interval given to
  // configure()) from its start for a first byte: whether a device that owes nothing is
  // still sending something.
  virtual bool startGapRead(std::span<std::uint8_t> buffer) = 0;

  // Asks once, without waiting, how the outstanding operation stands. With nothing outstanding,
  // or on a closed port, it fails.
  virtual PollResult poll() = 0;

  virtual WaitHint waitHint() const = 0;
  // Blocks until poll() may answer differently, or until `until`, whichever is first.
  virtual void waitForProgress(Clock::time_point until) = 0;

  virtual const OsError& lastError() const = 0;

  // The device the open port is, so that a session never takes it for a data file; none when
  // closed or where the OS cannot tell.
  virtual std::optional<FileIdentity> identity() const { return std::nullopt; }

  // Drops what the device is still sending until the line has been silent for one answer's
  // timeout (longer than the device's 100 ms frame gap, after which it also forgets a frame it
  // holds half-received), or until `limit`; then purges. A device left mid-frame by an
  // abandoned session would otherwise answer the next WakeUp with the rest of that frame.
  virtual void discardUntilQuiet(Clock::time_point limit) {
    std::array<std::uint8_t, 1> byte{};
    while (Clock::now() < limit && startRead(byte)) {
      PollResult result = poll();
      for (; result.isPending() && Clock::now() < limit; result = poll())
        waitForProgress(std::min(waitHint().deadline, limit));
      if (!result.isCompleted() || result.count == 0) break;
    }
    purge();
  }
};

}  // namespace morva
