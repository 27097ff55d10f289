// A serial port that reports every frame it moves to a sink, for --trace.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "transfer/serial_port.h"

namespace morva::cli {

// "-> 11 00 00 ef" for bytes sent, "<- 06" for bytes received.
std::string traceLine(std::string_view arrow, std::span<const std::uint8_t> bytes);

class TracingPort : public SerialPort {
 public:
  using Sink = std::function<void(const std::string&)>;
  TracingPort(SerialPort& inner, Sink sink) : inner_(inner), sink_(std::move(sink)) {}

  bool open(const std::string& name) override;
  bool configure(const Timeouts& timeouts) override { return inner_.configure(timeouts); }
  void close() override { inner_.close(); }
  bool isOpen() const override { return inner_.isOpen(); }
  bool purge() override;
  bool transmitPriority(std::uint8_t byte) override;
  bool startRead(std::span<std::uint8_t> buffer) override;
  bool startWrite(std::span<const std::uint8_t> bytes) override;
  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override;
  bool startGapRead(std::span<std::uint8_t> buffer) override;
  PollResult poll() override;
  WaitHint waitHint() const override { return inner_.waitHint(); }
  void waitForProgress(Clock::time_point until) override { inner_.waitForProgress(until); }
  const OsError& lastError() const override { return inner_.lastError(); }
  std::optional<FileIdentity> identity() const override { return inner_.identity(); }
  void discardUntilQuiet(Clock::time_point limit) override;

 private:
  SerialPort& inner_;
  Sink sink_;
  std::span<std::uint8_t> readBuffer_;
  bool reading_ = false;
};

}  // namespace morva::cli
