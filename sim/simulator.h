// The simulated Vk350 Morva controller on a pseudo-terminal: the PC side opens portPath() as
// its serial port and finds a device there that identifies itself, stores and sends 256-byte
// blocks, and commits the faults it was told to. Tests run it in-process; so does vk350-sim.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/device.h"
#include "sim/fault.h"
#include "sim/memory_file.h"
#include "sim/memory_image.h"
#include "sim/pty_line.h"
#include "sim/wire_trace.h"

namespace morva::sim {

struct SimulatorOptions {
  Identification identification;  // default 2.05 and 1.10: 02 05 01 0A EE 06
  // Both ways at the wire rate of 38400 baud (260 us a byte): what the PC writes counts as
  // arriving byte by byte, and answers leave byte by byte. Off: as fast as the pty goes.
  bool paced = false;
  std::chrono::milliseconds answerLatency{0};  // every answer this long after its frame
  std::vector<Fault> faults;
  // Raw memory image: loaded at start when the file exists, saved by stop(), held by this
  // device alone meanwhile (see MemoryFile). Empty: none.
  std::string memoryFile;
  bool startErased = false;  // the memory file is not loaded, only saved
  TraceSink trace;           // called on the device thread; empty: no trace
  // Called on the device thread each time a hold fault stops an answer (with what it holds).
  std::function<void(std::string_view)> onHold;
};

// Where the owner and a held answer meet: the device thread stops at a hold until the owner
// releases it, so a test can act while the device still owes its answer, without racing it.
class HoldGate {
 public:
  // Device thread: counts the hold and waits for its release; false when stopped first.
  bool hold();
  // Waits until an answer is held and not yet released; false when `guard` ran out first.
  bool awaitHold(std::chrono::milliseconds guard);
  // Lets the oldest held answer go on; a release given before its hold lets that hold pass.
  void release();
  void stop();
  unsigned holdsReached() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  unsigned holds_ = 0;
  unsigned releases_ = 0;
  bool stopped_ = false;
};

class Simulator {
 public:
  // Opens the pty, takes and loads the memory file and starts the device thread.
  // Throws std::system_error (no pty) or std::runtime_error (memory file unusable or held).
  explicit Simulator(SimulatorOptions options = {});
  // stop(); a failed save goes unreported here.
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The slave side of the pty, e.g. "/dev/pts/5": the port for the PC to open.
  const std::string& portPath() const { return portPath_; }

  // Ends the device thread (waits for it) and saves the memory file once. Call from the
  // owner's thread. False, with `error` set if given, when saving failed.
  bool stop(std::string* error = nullptr);

  // True once a Vanish fault has closed the line: the device thread has ended.
  bool vanished() const { return vanished_.load(); }

  // Hold faults: waits until the device holds an answer back (false when `guard` ran out),
  // and lets it go on. Any thread.
  bool awaitHold(std::chrono::milliseconds guard = std::chrono::seconds(10)) {
    return gate_.awaitHold(guard);
  }
  void release() { gate_.release(); }
  unsigned holdsReached() const { return gate_.holdsReached(); }

  // Replaces the faults in force from the next answer on (`once` faults are armed again).
  void setFaults(std::vector<Fault> faults) { faults_.replace(std::move(faults)); }

  // The device's memory; safe to use while the device runs.
  MemoryImage& memory() { return memory_; }
  const MemoryImage& memory() const { return memory_; }

  Stats stats() const { return device_.stats(); }

 private:
  void run();
  bool deliverAll(const std::vector<Delivery>& answers, SimClock::time_point arrival);
  bool deliver(const Delivery& answer, SimClock::time_point& after);
  bool interrupt(const Delivery& answer);

  SimulatorOptions options_;
  MemoryImage memory_;
  std::optional<MemoryFile> memoryFile_;
  FaultSet faults_;
  HoldGate gate_;
  WireTrace trace_;
  Device device_;
  PtyLine line_;
  std::string portPath_;
  std::atomic<bool> vanished_{false};
  bool saved_ = false;
  std::thread thread_;
};

}  // namespace morva::sim
