// The simulated serial line: the master side of a pseudo-terminal whose slave the PC opens as
// its port. It can pace the bytes it sends at the real wire rate, and it closes for good when
// the device "vanishes". Waits can be cut short from another thread by requestStop().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morva::sim {

// CLOCK_MONOTONIC itself, so that its time points can go straight to clock_nanosleep.
struct SimClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<SimClock>;
  static constexpr bool is_steady = true;
  static time_point now();
};

// One byte at 38400 baud with 10 bits on the wire (start, 8 data, stop): 1/3840 s.
inline constexpr std::chrono::nanoseconds byteTime{260417};

// The time the n-th byte (counted from 1) of a paced run finishes when the run starts at t0,
// computed from t0 each time so that a long run does not drift.
SimClock::time_point byteDeadline(SimClock::time_point t0, std::size_t n);

class PtyLine {
 public:
  // Opens the pty, makes it raw at 38400 baud and keeps a slave descriptor of its own, so
  // that the master sees no hang-up while no PC has the port open. Throws std::system_error.
  PtyLine();
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // The slave's path, e.g. "/dev/pts/7": the port the PC opens.
  const std::string& path() const { return path_; }

  enum class Outcome { Data, Timeout, Stopped, Closed };
  // Waits for the PC's bytes until `deadline` (none: for ever) and appends what came.
  Outcome read(std::vector<std::uint8_t>& into, std::optional<SimClock::time_point> deadline);
  // Sends `bytes`; paced, each one leaves one byte-time after the one before (and not before
  // the line is free of earlier output). False when stopped or closed on the way.
  bool send(std::span<const std::uint8_t> bytes, bool paced);
  // Sleeps until `deadline`; false when stopped first.
  bool waitUntil(SimClock::time_point deadline);

  // Closes the master and the own slave: the PC's port sees a hang-up. Final.
  void hangUp();
  // Waits (up to `limit`) until the PC has read what was sent: a closing master throws away
  // whatever the slave has not read yet, which a real line would still have delivered.
  void drain(std::chrono::milliseconds limit);
  bool isOpen() const { return master_ >= 0; }

  // Any thread: makes every wait return false / Stopped from now on.
  void requestStop();
  bool stopRequested() const { return stop_.load(); }

 private:
  bool writeAll(std::span<const std::uint8_t> bytes);

  int master_ = -1;
  int slave_ = -1;
  int stopEvent_ = -1;
  std::atomic<bool> stop_{false};
  std::string path_;
  SimClock::time_point lineFree_{};
};

}  // namespace morva::sim
