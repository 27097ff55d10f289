// The serial port of the page: one line at a time, the device protocol's time-outs judged from
// the moments the bytes arrived rather than from when the page got round to looking, so that a
// page that is slow to be scheduled, or a tab in the background, neither invents a time-out nor
// misses one.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/port_skeleton.h"
#include "platform/web/serial_line.h"

namespace morva {

// Error numbers of the page's ports, as "Error code : N" shows them (the POSIX numbers of the
// same conditions, so that a report reads alike on every system).
namespace webError {
inline constexpr int notFound = 2;    // the port is not (or no longer) granted to the page
inline constexpr int lost = 5;        // the device went away
inline constexpr int notOpen = 9;     // no port open
inline constexpr int busy = 16;       // one operation at a time
inline constexpr int invalid = 22;    // a poll with nothing outstanding
inline constexpr int timedOut = 110;  // the browser never took a write
}  // namespace webError

class WebSerialPort : public PortSkeleton {
 public:
  // The line behind a port name; null for a name the page does not know.
  using LineFactory = std::function<std::unique_ptr<SerialLine>(const std::string& name)>;

  explicit WebSerialPort(LineFactory lines, TimeSource now = Clock::now);
  ~WebSerialPort() override;
  WebSerialPort(const WebSerialPort&) = delete;
  WebSerialPort& operator=(const WebSerialPort&) = delete;

  // Opens the named line with its settings (a browser sets them at the open): a port that
  // opens is configured, and configure() only takes the time-outs.
  bool open(const std::string& name) override;
  bool configure(const Timeouts& timeouts) override;
  void close() override;
  bool isOpen() const override { return line_ != nullptr; }

  // Drops what arrived and the outstanding operation. A write the browser has already taken
  // still goes out: the page cannot empty the OS's queues.
  bool purge() override;
  bool transmitPriority(std::uint8_t byte) override;
  bool startRead(std::span<std::uint8_t> buffer) override;
  bool startWrite(std::span<const std::uint8_t> bytes) override;
  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override;
  bool startGapRead(std::span<std::uint8_t> buffer) override;

 private:
  // A line that is gone fails the poll with its reason; otherwise the read or the write.
  PollResult pollOutstanding() override;
  // The line's news (waitable 0) and the next time-out or arrival.
  WaitHint outstandingHint() const override;
  void waitOutstanding(Clock::time_point limit) override;
  bool startReading(std::span<std::uint8_t> buffer, PortTiming::Kind kind);
  PollResult pollRead();
  PollResult pollWrite();
  Clock::time_point leftTheWire() const;

  LineFactory lines_;
  std::unique_ptr<SerialLine> line_;
  std::deque<Arrival> input_;
  std::span<std::uint8_t> readInto_;
};

}  // namespace morva
