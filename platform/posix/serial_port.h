// The serial port on POSIX systems: a tty device (a USB adapter, a UART, or a pty standing in
// for one) driven through termios without ever blocking. All progress of the outstanding read
// or write is made inside poll(), so a single-threaded front end stays responsive, and the
// device protocol's time-outs are judged by the port's PortTiming on a monotonic clock.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "platform/port_skeleton.h"

namespace morva {

class PosixSerialPort : public PortSkeleton {
 public:
  // Time-outs run on `now`; tests pass a clock they move by hand.
  explicit PosixSerialPort(TimeSource now = Clock::now);
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  // Opens a device path (closing any port open before). Exclusive: a second opener that also
  // locks (any copy of this program, even as root) fails with cause Busy while we hold it.
  // Missing path: NotFound; no access: PermissionDenied. A path that is not a terminal opens
  // (without the lock), and configure() then fails with NotATerminal.
  bool open(const std::string& name) override;
  // Raw 38400 8N1, receiver on, modem lines ignored, no flow control of either kind; low
  // latency asked for where the driver offers it; both queues emptied. The time-outs are
  // measured here, on the port's clock.
  bool configure(const Timeouts& timeouts) override;
  // Drops the outstanding operation and releases the port.
  void close() override;
  bool isOpen() const override { return fd_ >= 0; }

  // Empties both driver queues and forgets the outstanding read or write.
  bool purge() override;
  // Hands the byte to the driver at once, ahead of what this port has not yet handed over.
  // It cannot overtake bytes already in the driver's queue (the device search purges first,
  // so that queue is empty when it matters).
  bool transmitPriority(std::uint8_t byte) override;

  // Only one operation at a time: a start while another is outstanding fails (EBUSY) and
  // abandons both. A start on a closed port fails with EBADF. A failed start that was never
  // polled is forgotten by the next start.
  bool startRead(std::span<std::uint8_t> buffer) override;
  // Hands the bytes to the driver at once, as far as it takes them. It completes once the
  // driver's queue is empty and, on a real line, the bytes' time on the wire has passed. When
  // the time runs out first, the write completes with the count the driver took: the device
  // got those bytes and never sees the rest, as with a port whose write time-out expired.
  bool startWrite(std::span<const std::uint8_t> bytes) override;
  // FIONREAD, then a read of what is there.
  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override;
  bool startGapRead(std::span<std::uint8_t> buffer) override;

  // The device behind the open descriptor.
  std::optional<FileIdentity> identity() const override;

  // The open descriptor, -1 when closed.
  int descriptor() const { return fd_; }

 private:
  // Completed with the count, Pending, or Failed. A device that is gone fails with cause
  // Vanished and its errno (EIO when the OS gave none): never a time-out. Bytes already
  // waiting in the driver count as arrived in time, whenever the poll comes.
  PollResult pollOutstanding() override;
  // A read: the descriptor (readable when bytes come or the device is gone) and the read's
  // next time-out. A write: no descriptor, and a re-check time from the bytes still to go out.
  WaitHint outstandingHint() const override;
  // Sleeps in poll(2) until the port has news or `limit` comes.
  void waitOutstanding(Clock::time_point limit) override;
  PollResult pollRead();
  PollResult pollWrite();
  std::optional<OsError> takeInput();
  std::optional<OsError> pushOutput();
  std::optional<OsError> readOutputQueue();
  Clock::time_point writeRecheck() const;
  Clock::time_point leftTheWire() const;

  bool realLine_ = false;  // a serial driver's line, not a pty: bytes take time to leave
  int fd_ = -1;
  // The outstanding operation's buffer: where a read's bytes go, or a write's come from.
  std::uint8_t* readInto_ = nullptr;
  const std::uint8_t* writeFrom_ = nullptr;
  std::size_t queued_ = 0;  // a write's bytes still in the driver's output queue
};

}  // namespace morva
