// A serial port whose cable can be pulled at a chosen moment: it passes everything to a real
// port until the first poll of its N-th read or write, then runs `pull` (which makes the far
// end go away for real) and from then on behaves as a USB adapter that has vanished.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "transfer/serial_port.h"

namespace morva::hardening {

class PullablePort : public SerialPort {
 public:
  // `operation` counts the reads and writes started on this port from 1: a session's WakeUp
  // is operation 1, the identification read operation 2, and so on.
  PullablePort(SerialPort& real, int operation, std::function<void()> pull)
      : real_(real), pullAt_(operation), pull_(std::move(pull)) {}

  bool open(const std::string& name) override { return real_.open(name); }
  bool configure(const Timeouts& timeouts) override { return real_.configure(timeouts); }
  void close() override { real_.close(); }
  bool isOpen() const override { return real_.isOpen(); }
  bool purge() override { return real_.purge(); }
  bool transmitPriority(std::uint8_t byte) override { return real_.transmitPriority(byte); }

  bool startRead(std::span<std::uint8_t> buffer) override {
    ++started_;
    lastIsWrite_ = false;
    return real_.startRead(buffer);
  }
  bool startWrite(std::span<const std::uint8_t> bytes) override {
    ++started_;
    lastIsWrite_ = true;
    return real_.startWrite(bytes);
  }

  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override {
    return real_.takeUnasked(buffer);
  }
  bool startGapRead(std::span<std::uint8_t> buffer) override {
    ++started_;
    lastIsWrite_ = false;
    return real_.startGapRead(buffer);
  }
  PollResult poll() override {
    if (!pulled_ && started_ == pullAt_) {
      pulled_ = true;
      pull_();
    }
    // A pty hands a write over at once, so the real port would call it done even with the far
    // end gone; an adapter that vanished fails it. A read learns of the hang-up by itself.
    if (pulled_ && lastIsWrite_) {
      real_.purge();
      error_ = OsError{EIO, "Input/output error", FailureCause::Vanished};
      return PollResult::failed(error_);
    }
    return real_.poll();
  }

  WaitHint waitHint() const override { return real_.waitHint(); }
  void waitForProgress(Clock::time_point until) override { real_.waitForProgress(until); }
  // Waiting for a quiet line is not one of the session's operations: it does not count.
  void discardUntilQuiet(Clock::time_point limit) override { real_.discardUntilQuiet(limit); }
  const OsError& lastError() const override {
    return pulled_ && lastIsWrite_ ? error_ : real_.lastError();
  }

  bool pulled() const { return pulled_; }

 private:
  SerialPort& real_;
  int pullAt_;
  std::function<void()> pull_;
  int started_ = 0;
  bool lastIsWrite_ = false;
  bool pulled_ = false;
  OsError error_;
};

}  // namespace morva::hardening
