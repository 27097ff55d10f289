// The controller's side of the link protocol, free of any I/O: it is fed the PC's bytes one at
// a time and says what to answer, and when. The line (a pty) and its timing are elsewhere.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/fault.h"
#include "sim/memory_image.h"
#include "sim/wire_trace.h"

namespace morva::sim {

inline constexpr std::uint8_t wakeUpByte = 0x1B;
inline constexpr std::uint8_t ackByte = 0x06;
inline constexpr std::uint8_t nakByte = 0x15;
inline constexpr std::uint8_t writeBlockByte = 0x11;
inline constexpr std::uint8_t readBlockByte = 0x12;
inline constexpr std::size_t commandLength = 4;
inline constexpr std::size_t dataFrameLength = MemoryImage::blockSize + 1;
// Silence longer than this inside a frame makes the device give the frame up.
inline constexpr std::chrono::milliseconds frameGap{100};

// The two version pairs the device reports; the defaults read "2.05" and "1.10".
struct Identification {
  std::uint8_t firmwareMajor = 2;
  std::uint8_t firmwareMinor = 5;
  std::uint8_t secondMajor = 1;
  std::uint8_t secondMinor = 10;
};

// The identification frame: the four numbers, their checksum, ACK.
std::vector<std::uint8_t> identificationFrame(const Identification& identification);
// The byte that makes the sum of `bytes` plus it zero modulo 256.
std::uint8_t checksumOf(std::span<const std::uint8_t> bytes);

// One answer as the line is to carry it.
struct Delivery {
  std::vector<std::uint8_t> bytes;
  std::chrono::milliseconds delay{0};  // after the frame arrived, or after the answer before
  std::size_t pauseAt = 0;             // with a pause: the bytes sent before it
  std::chrono::milliseconds pause{0};
  bool hold = false;    // instead of a pause, wait at pauseAt until the owner releases the rest
  bool vanish = false;  // close the line for good once the bytes are out
  std::string note;     // what the trace says about it
};

// What the device has seen so far; counts only, for tests and for the trace's summary.
struct Stats {
  unsigned wakeUps = 0;
  unsigned commandsAccepted = 0;
  unsigned framesRefused = 0;  // answered NAK: bad checksum or no such block
  unsigned blocksWritten = 0;
  unsigned blocksRead = 0;     // data frames sent
  unsigned framesDropped = 0;  // partial frames given up after silence
  unsigned bytesIgnored = 0;   // bytes that began no frame
  unsigned bytesReceived = 0;  // every byte from the PC, whatever it became
};

struct DeviceSettings {
  Identification identification;
  std::chrono::milliseconds answerLatency{0};  // every answer this long after its frame
};

class Device {
 public:
  // All three must outlive the device.
  Device(MemoryImage& memory, FaultSet& faults, WireTrace& trace, DeviceSettings settings);

  // One byte from the PC. Returns the answers that it completes, in order; none mid-frame.
  std::vector<Delivery> receive(std::uint8_t byte);
  // How long a silence the device sits through before it gives up what it holds (a partial
  // frame, junk not yet reported); nullopt when it waits for ever.
  std::optional<std::chrono::milliseconds> patience() const;
  // That silence has passed.
  std::vector<Delivery> silence();

  Stats stats() const;  // any thread

 private:
  enum class State { Idle, Command, AwaitingData, Data };

  std::vector<Delivery> receiveIdle(std::uint8_t byte);
  Delivery identify();
  std::vector<Delivery> answerCommand();
  std::vector<Delivery> takeDataFrame();
  Delivery sendBlock(std::uint16_t block);
  Delivery refuse(std::string_view reason);
  void reportIgnored();
  template <typename F>
  void count(F change);

  MemoryImage& memory_;
  FaultSet& faults_;
  WireTrace& trace_;
  DeviceSettings settings_;
  State state_ = State::Idle;
  std::vector<std::uint8_t> frame_;
  std::vector<std::uint8_t> ignored_;
  std::uint16_t block_ = 0;  // the block whose data frame is due
  mutable std::mutex statsMutex_;
  Stats stats_;
};

}  // namespace morva::sim
