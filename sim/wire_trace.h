// The wire trace: one line per frame, with its direction and its bytes in hex, handed to a
// sink that the owner injects. Without a sink nothing is formatted at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace morva::sim {

// Called on the device's own thread, one complete line at a time (no line break).
using TraceSink = std::function<void(std::string_view line)>;

enum class WireDirection { ToDevice, ToPc };

// "1B 02 FF": two upper-case digits a byte, one blank between.
std::string hexBytes(std::span<const std::uint8_t> bytes);

class WireTrace {
 public:
  explicit WireTrace(TraceSink sink);

  bool enabled() const { return static_cast<bool>(sink_); }
  // "[  12.345] PC->DEV 11 05 00 EA  write block 5": milliseconds since the trace began.
  void frame(WireDirection direction, std::span<const std::uint8_t> bytes, std::string_view note);
  // A line about the line itself rather than about bytes (it was closed, a frame was dropped).
  void event(std::string_view text);

 private:
  std::string stamp() const;

  TraceSink sink_;
  std::chrono::steady_clock::time_point origin_;
};

}  // namespace morva::sim
