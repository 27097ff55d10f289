// What a serial port in the page stands on: a line that delivers the bytes it received with the
// moment each arrived, and takes writes that finish some time later. The browser's Web Serial
// port is one; the simulated Vk350 inside the page is another. Nothing here waits but
// waitForNews(), which in the page suspends the engine's call until the browser has news.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transfer/os_error.h"
#include "transfer/serial_port.h"

namespace morva {

// Bytes the line received together, and when they arrived.
struct Arrival {
  std::vector<std::uint8_t> bytes;
  Clock::time_point at;
};

class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Opens the line at 38400 baud, 8 data bits, no parity, 1 stop bit, no flow control; the
  // line's own error (another program or tab holds it, it is gone) when it cannot.
  virtual std::optional<OsError> open() = 0;
  // Lets the line go; it can be opened again once this returns.
  virtual void close() = 0;

  // Hands `bytes` on; they are written after any write still under way.
  virtual void write(std::span<const std::uint8_t> bytes) = 0;
  // A write handed on is not yet taken by the line.
  virtual bool writing() const = 0;
  // How long one byte takes on the wire once taken: a real line's bytes have not left before
  // that; zero for a line with no wire.
  virtual Clock::duration byteTime() const = 0;

  // Moves what arrived up to now, oldest first, to the end of `into`.
  virtual void take(std::deque<Arrival>& into) = 0;
  // Forgets what arrived and was not taken yet.
  virtual void discard() = 0;
  // Why the line is gone (unplugged, its reader ended in error); none while it works.
  virtual std::optional<OsError> failure() const = 0;

  // When something is due to arrive even if nothing else happens (a device's answer with its
  // own delay); never for a line that only knows when bytes come.
  virtual Clock::time_point nextArrival() const { return Clock::time_point::max(); }
  // Waits until the line has news (bytes, a finished write, a failure) or until `until`.
  virtual void waitForNews(Clock::time_point until) = 0;
};

}  // namespace morva
