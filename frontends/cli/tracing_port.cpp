#include "frontends/cli/tracing_port.h"

namespace morva::cli {

std::string traceLine(std::string_view arrow, std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string line(arrow);
  for (std::uint8_t b : bytes) {
    line += ' ';
    line += digits[b >> 4];
    line += digits[b & 15];
  }
  return line;
}

bool TracingPort::open(const std::string& name) {
  bool ok = inner_.open(name);
  sink_("open " + name + (ok ? "" : ": " + inner_.lastError().text));
  return ok;
}

bool TracingPort::purge() {
  reading_ = false;
  sink_("purge");
  return inner_.purge();
}

bool TracingPort::transmitPriority(std::uint8_t byte) {
  sink_(traceLine("->", std::span(&byte, 1)) + " (ahead of the queue)");
  return inner_.transmitPriority(byte);
}

bool TracingPort::startRead(std::span<std::uint8_t> buffer) {
  readBuffer_ = buffer;
  reading_ = true;
  return inner_.startRead(buffer);
}

bool TracingPort::startWrite(std::span<const std::uint8_t> bytes) {
  reading_ = false;
  sink_(traceLine("->", bytes));
  return inner_.startWrite(bytes);
}

std::size_t TracingPort::takeUnasked(std::span<std::uint8_t> buffer) {
  const std::size_t n = inner_.takeUnasked(buffer);
  if (n > 0) sink_(traceLine("<-", buffer.first(n)) + " (nobody asked)");
  return n;
}

bool TracingPort::startGapRead(std::span<std::uint8_t> buffer) {
  readBuffer_ = buffer;
  reading_ = true;
  return inner_.startGapRead(buffer);
}

void TracingPort::discardUntilQuiet(Clock::time_point limit) {
  reading_ = false;
  sink_("waiting for a quiet line");
  inner_.discardUntilQuiet(limit);
}

PollResult TracingPort::poll() {
  PollResult r = inner_.poll();
  if (r.isFailed()) {
    sink_("error " + std::to_string(r.error.number) + ": " + r.error.text);
    reading_ = false;
  } else if (r.isCompleted() && reading_) {
    std::string line = traceLine("<-", readBuffer_.first(std::min(r.count, readBuffer_.size())));
    if (r.count < readBuffer_.size())
      line += " (" + std::to_string(r.count) + " of " + std::to_string(readBuffer_.size()) + ")";
    sink_(line);
    reading_ = false;
  }
  return r;
}

}  // namespace morva::cli
