// A serial port that passes every call to another one: the base of the test wrappers that put
// themselves between the code under test and a real port, each overriding only what it changes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "transfer/serial_port.h"

namespace morva::testing {

class ForwardingPort : public SerialPort {
 public:
  explicit ForwardingPort(SerialPort& real) : real_(real) {}

  bool open(const std::string& name) override { return real_.open(name); }
  bool configure(const Timeouts& timeouts) override { return real_.configure(timeouts); }
  void close() override { real_.close(); }
  bool isOpen() const override { return real_.isOpen(); }
  bool purge() override { return real_.purge(); }
  bool transmitPriority(std::uint8_t byte) override { return real_.transmitPriority(byte); }
  bool startRead(std::span<std::uint8_t> buffer) override { return real_.startRead(buffer); }
  bool startWrite(std::span<const std::uint8_t> bytes) override { return real_.startWrite(bytes); }
  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override {
    return real_.takeUnasked(buffer);
  }
  bool startGapRead(std::span<std::uint8_t> buffer) override { return real_.startGapRead(buffer); }
  PollResult poll() override { return real_.poll(); }
  WaitHint waitHint() const override { return real_.waitHint(); }
  void waitForProgress(Clock::time_point until) override { real_.waitForProgress(until); }
  const OsError& lastError() const override { return real_.lastError(); }
  std::optional<FileIdentity> identity() const override { return real_.identity(); }
  // The real port's own wait for a quiet line: a wrapper's changes to reads do not apply.
  void discardUntilQuiet(Clock::time_point limit) override { real_.discardUntilQuiet(limit); }

 protected:
  SerialPort& real() const { return real_; }

 private:
  SerialPort& real_;
};

}  // namespace morva::testing
