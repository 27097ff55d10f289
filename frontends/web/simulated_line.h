// The simulated Vk350 inside the page, as a serial line: what the engine writes goes byte by
// byte into the simulator's protocol, and its answers arrive when the device would send them.
// No wire: the page's simulated device answers at once unless a fault delays it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/web/serial_line.h"
#include "sim/device.h"
#include "sim/fault.h"
#include "sim/memory_image.h"
#include "sim/wire_trace.h"

namespace morva::web {

// The device and its memory, kept for the page's whole visit: closing the port does not
// switch the device off.
class SimulatedDevice {
 public:
  explicit SimulatedDevice(sim::DeviceSettings settings = {});
  sim::Device& device() { return device_; }
  sim::MemoryImage& memory() { return memory_; }
  sim::FaultSet& faults() { return faults_; }

 private:
  sim::MemoryImage memory_;
  sim::FaultSet faults_;
  sim::WireTrace trace_{{}};
  sim::Device device_;
};

class SimulatedLine : public SerialLine {
 public:
  // Waits until the given moment; in the page it lets the browser run meanwhile.
  using SleepUntil = std::function<void(Clock::time_point)>;

  SimulatedLine(SimulatedDevice& device, TimeSource now, SleepUntil sleepUntil);

  std::optional<OsError> open() override;
  void close() override;
  void write(std::span<const std::uint8_t> bytes) override;
  bool writing() const override { return false; }
  Clock::duration byteTime() const override { return Clock::duration::zero(); }
  void take(std::deque<Arrival>& into) override;
  void discard() override { pending_.clear(); }
  std::optional<OsError> failure() const override { return failure_; }
  Clock::time_point nextArrival() const override;
  void waitForNews(Clock::time_point until) override;

 private:
  void schedule(const std::vector<sim::Delivery>& answers, Clock::time_point after);
  void giveUpAfterSilence(Clock::time_point now);

  SimulatedDevice& device_;
  TimeSource now_;
  SleepUntil sleepUntil_;
  std::deque<Arrival> pending_;  // answers on their way, by arrival
  Clock::time_point lastByte_;
  std::optional<Clock::time_point> vanishAt_;
  std::optional<OsError> failure_;
};

}  // namespace morva::web
