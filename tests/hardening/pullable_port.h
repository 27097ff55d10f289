// A serial port whose cable can be pulled at a chosen moment: it passes everything to a real
// port until the first poll of its N-th read or write, then runs `pull` (which makes the far
// end go away for real) and from then on behaves as a USB adapter that has vanished.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <span>

#include "tests/support/forwarding_port.h"

namespace morva::hardening {

class PullablePort : public testing::ForwardingPort {
 public:
  // `operation` counts the reads and writes started on this port from 1: a session's WakeUp
  // is operation 1, the identification read operation 2, and so on. Waiting for a quiet line
  // is not one of the session's operations: it does not count.
  PullablePort(SerialPort& real, int operation, std::function<void()> pull)
      : ForwardingPort(real), pullAt_(operation), pull_(std::move(pull)) {}

  bool startRead(std::span<std::uint8_t> buffer) override {
    ++started_;
    lastIsWrite_ = false;
    return real().startRead(buffer);
  }
  bool startWrite(std::span<const std::uint8_t> bytes) override {
    ++started_;
    lastIsWrite_ = true;
    return real().startWrite(bytes);
  }

  bool startGapRead(std::span<std::uint8_t> buffer) override {
    ++started_;
    lastIsWrite_ = false;
    return real().startGapRead(buffer);
  }
  PollResult poll() override {
    if (!pulled_ && started_ == pullAt_) {
      pulled_ = true;
      pull_();
    }
    // A pty hands a write over at once, so the real port would call it done even with the far
    // end gone; an adapter that vanished fails it. A read learns of the hang-up by itself.
    if (pulled_ && lastIsWrite_) {
      real().purge();
      error_ = OsError{EIO, "Input/output error", FailureCause::Vanished};
      return PollResult::failed(error_);
    }
    return real().poll();
  }

  const OsError& lastError() const override {
    return pulled_ && lastIsWrite_ ? error_ : real().lastError();
  }

  bool pulled() const { return pulled_; }

 private:
  int pullAt_;
  std::function<void()> pull_;
  int started_ = 0;
  bool lastIsWrite_ = false;
  bool pulled_ = false;
  OsError error_;
};

}  // namespace morva::hardening
