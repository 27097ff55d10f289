// A port the person granted to the page, through Web Serial: the JavaScript side keeps one
// long-lived reader that stamps every chunk with its arrival time, and one writer.
#pragma once

#include <string>

#include "platform/web/serial_line.h"

namespace morva {

class BrowserLine : public SerialLine {
 public:
  explicit BrowserLine(std::string name) : name_(std::move(name)) {}

  // Suspends the engine's call until the browser has opened the port (or refused).
  std::optional<OsError> open() override;
  // Cancels the reader and releases the writer first (the browser refuses to close a port
  // whose streams are locked), then closes the port, suspending until it is closed.
  void close() override;
  void write(std::span<const std::uint8_t> bytes) override;
  bool writing() const override;
  // 10 bits at 38400 baud.
  Clock::duration byteTime() const override { return std::chrono::microseconds(260); }
  void take(std::deque<Arrival>& into) override;
  void discard() override;
  std::optional<OsError> failure() const override;
  void waitForNews(Clock::time_point until) override;

 private:
  std::string name_;
  bool open_ = false;
};

}  // namespace morva
