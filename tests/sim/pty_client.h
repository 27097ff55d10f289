// The PC end of the simulator's pty, as plain POSIX calls: raw mode, writes, and reads bounded
// by deadlines so that a silent or broken simulator fails a test instead of hanging it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace morva::sim::test {

using Bytes = std::vector<std::uint8_t>;
using Millis = std::chrono::milliseconds;
using TestClock = std::chrono::steady_clock;

// Frames built here from the wire rules directly, not with the simulator's own helpers.
inline std::uint8_t closingSum(const Bytes& bytes) {
  unsigned sum = 0;
  for (const auto b : bytes) sum += b;
  return static_cast<std::uint8_t>(-sum & 0xFF);
}

inline Bytes blockCommand(std::uint8_t code, std::uint16_t block) {
  Bytes frame{code, static_cast<std::uint8_t>(block & 0xFF), static_cast<std::uint8_t>(block >> 8)};
  frame.push_back(closingSum(frame));
  return frame;
}

inline Bytes writeCommand(std::uint16_t block) {
  return blockCommand(0x11, block);
}
inline Bytes readCommand(std::uint16_t block) {
  return blockCommand(0x12, block);
}

// 256 bytes that differ from block to block and from erased memory.
inline Bytes blockPattern(std::uint16_t block) {
  Bytes data(256);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>(i * 7 + block * 13 + 1);
  }
  return data;
}

inline Bytes sealed(Bytes data) {
  data.push_back(closingSum(data));
  return data;
}

inline Bytes joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Options with just the one fault, as vk350-sim's --fault would write it.
inline SimulatorOptions withFault(std::string_view text) {
  SimulatorOptions options;
  if (const auto fault = parseFault(text)) {
    options.faults.push_back(*fault);
  } else {
    ADD_FAILURE() << "not a fault: " << text;
  }
  return options;
}

inline SimulatorOptions withMemoryFile(std::string path) {
  SimulatorOptions options;
  options.memoryFile = std::move(path);
  return options;
}

inline SimulatorOptions pacedWith(SimulatorOptions options = {}) {
  options.paced = true;
  return options;
}

class PtyClient {
 public:
  explicit PtyClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      ADD_FAILURE() << "cannot open " << path << ": errno " << errno;
      return;
    }
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
  }
  ~PtyClient() { close(); }
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  void send(const Bytes& bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Whatever arrived once `count` bytes are there or `limit` has passed.
  Bytes receive(std::size_t count, Millis limit = Millis(3000)) {
    Bytes got;
    const auto deadline = TestClock::now() + limit;
    while (got.size() < count && waitReadable(deadline)) {
      if (!readSome(got, count - got.size())) break;
    }
    return got;
  }

  // The `expected` bytes of an answer (waiting for them as receive() does), and anything more
  // the device sends until the line has been quiet for a while.
  Bytes receiveAnswer(std::size_t expected) {
    Bytes got = receive(expected);
    const Bytes more = receiveUntilQuiet();
    got.insert(got.end(), more.begin(), more.end());
    return got;
  }

  // Everything until the line has been quiet for `quiet` (bounded by `limit` overall).
  Bytes receiveUntilQuiet(Millis quiet = Millis(200), Millis limit = Millis(5000)) {
    Bytes got;
    const auto end = TestClock::now() + limit;
    while (TestClock::now() < end && waitReadable(std::min(end, TestClock::now() + quiet))) {
      if (!readSome(got, 4096)) break;
    }
    return got;
  }

  // True once the far end has closed the line (hang-up, a read of 0 or EIO) within `limit`.
  bool seesHangUp(Millis limit = Millis(3000)) {
    const auto deadline = TestClock::now() + limit;
    Bytes ignored;
    while (TestClock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0 && (p.revents & (POLLHUP | POLLERR))) return true;
      if (p.revents & POLLIN) {
        std::array<std::uint8_t, 512> buffer{};
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n == 0 || (n < 0 && errno == EIO)) return true;
      }
    }
    return false;
  }

 private:
  bool waitReadable(TestClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<Millis>(deadline - TestClock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(left)) > 0 && (p.revents & POLLIN);
  }

  bool readSome(Bytes& into, std::size_t most) {
    std::array<std::uint8_t, 4096> buffer{};
    const ssize_t n = ::read(fd_, buffer.data(), std::min(most, buffer.size()));
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    into.insert(into.end(), buffer.begin(), buffer.begin() + n);
    return true;
  }

  int fd_ = -1;
};

}  // namespace morva::sim::test
