// The serial port on Windows: a COM port opened for overlapped input and output. The driver
// keeps the device protocol's time-outs itself (COMMTIMEOUTS), and every read or write is
// learned about by polling its OVERLAPPED record without waiting, so a single-threaded front
// end stays responsive. Which operation is outstanding, and a start that failed, are kept by
// the skeleton's PortTiming, whose deadline only paces the waits.
#pragma once

#include <memory>
#include <optional>
#include <span>

#include "platform/port_skeleton.h"

namespace morva {

class Win32SerialPort : public PortSkeleton {
 public:
  // Creates the two OVERLAPPED records, each with an event of its own (unnamed, auto-reset).
  // The wait hints run on `now`.
  explicit Win32SerialPort(TimeSource now = Clock::now);
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // Opens "COM1" (or "COM1:", or a device path beginning with "\\") as \\.\COM1, so that
  // COM10 and above open too; no sharing: a port another program holds fails with cause Busy
  // (ERROR_ACCESS_DENIED). An unknown name fails with NotFound. Closes any port open before.
  bool open(const std::string& name) override;
  // BuildCommDCBA("baud=38400 parity=N data=8 stop=1") on an all-zero DCB, SetCommState,
  // SetupComm(260, 260), SetCommTimeouts{interval, per byte, 0, per byte, 0} (100, 120, 0,
  // 120, 0 for the line): all four are made even when one fails; false (with the first
  // failure's error) when any failed. The driver measures the time-outs.
  bool configure(const Timeouts& timeouts) override;
  // Cancels the outstanding operation, waits briefly for the driver to let go of its buffer,
  // and closes the handle.
  void close() override;
  bool isOpen() const override;

  // PurgeComm with all four flags; the aborted operation is forgotten.
  bool purge() override;
  // TransmitCommChar.
  bool transmitPriority(std::uint8_t byte) override;

  // ReadFile / WriteFile on their own OVERLAPPED record. Started when the call succeeds or
  // reports ERROR_IO_PENDING. Only one operation at a time: a start while another is
  // outstanding fails (ERROR_BUSY) and cancels both. A failed start makes the next poll()
  // fail with its error.
  bool startRead(std::span<std::uint8_t> buffer) override;
  bool startWrite(std::span<const std::uint8_t> bytes) override;
  // ClearCommError's cbInQue, then a read of what is there (which the driver ends at once).
  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override;
  // A read under time-outs of its own: none per byte, the interval in total; the line's
  // time-outs are set again before the next operation.
  bool startGapRead(std::span<std::uint8_t> buffer) override;

 private:
  struct Records;  // the two OVERLAPPED records and their events

  // GetOverlappedResult without waiting: ERROR_IO_INCOMPLETE and ERROR_IO_PENDING are
  // Pending; an operation ended by its time-out is Completed with the bytes that came (also
  // where the driver reports it as ERROR_TIMEOUT); anything else is Failed, with cause
  // Vanished for the errors of a device that is gone.
  PollResult pollOutstanding() override;
  // The outstanding operation's event handle (an intptr_t) and the end of its total time-out
  // (120 ms per byte), or a short re-check once that has passed.
  WaitHint outstandingHint() const override;
  // WaitForSingleObject on the outstanding operation's event, until `limit`.
  void waitOutstanding(Clock::time_point limit) override;
  // Cancels the outstanding operation and waits briefly for the driver to let go of it.
  void abandonOutstanding() override;
  bool begin(PortTiming::Kind kind, std::size_t size);
  bool issued(bool ok);
  bool setTimeouts(unsigned long interval, unsigned long perByte, unsigned long total);
  void restoreLineTimeouts();
  void awaitRelease();

  void* handle_;  // INVALID_HANDLE_VALUE while closed
  std::unique_ptr<Records> records_;
  bool gapTimeouts_ = false;  // the driver holds a gap read's time-outs, not the line's
};

}  // namespace morva
