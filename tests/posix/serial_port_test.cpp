#include "platform/posix/serial_port.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>

#include "platform/posix/os_error.h"
#include "sim/simulator.h"
#include "tests/posix/pty_device.h"
#include "tests/support/files.h"
#include "tests/support/serial_port_contract.h"

namespace morva {

// The contract's far end: the simulated device on a pseudo-terminal, in this process, one for
// all of its cases.
testing::ContractLine testing::contractLine() {
  static sim::Simulator device;
  return {device.portPath(), [] { return std::make_unique<PosixSerialPort>(); }, EBADF, EBUSY,
          EINVAL};
}

namespace {

using namespace std::chrono_literals;
using testing::PtyDevice;
using testing::ScratchDir;
namespace fs = std::filesystem;

// Time that moves only when the test says so; real waits still happen in poll(2).
struct ManualClock {
  Clock::time_point t = Clock::now();
  TimeSource source() {
    return [this] { return t; };
  }
};

// Polls until the operation ends or `enough` holds, sleeping on the port in between, for at
// most a few seconds of real time (a hang guard).
PollResult pollUntil(PosixSerialPort& port, const TimeSource& now,
                     const std::function<bool()>& enough = {}) {
  auto guard = std::chrono::steady_clock::now() + 5s;
  for (;;) {
    PollResult r = port.poll();
    if (!r.isPending() || (enough && enough()) || std::chrono::steady_clock::now() > guard)
      return r;
    port.waitForProgress(now() + 50ms);
  }
}

std::vector<std::uint8_t> countingBytes(std::size_t n, std::uint8_t first) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

class PortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(port.open(pty.path())) << port.lastError().text;
    ASSERT_TRUE(port.configure(lineTimeouts)) << port.lastError().text;
  }
  PtyDevice pty;
  ManualClock clock;
  PosixSerialPort port{clock.source()};
};

constexpr int stillPending = -1;
struct ReadStep {
  int advanceMs;
  std::size_t send;  // bytes the device sends after the clock moved
  int expect;        // count the read completes with, or stillPending
};
struct ReadCase {
  const char* name;
  std::size_t size;
  std::vector<ReadStep> steps;
  Timeouts timeouts = lineTimeouts;
};

// clang-format off
const ReadCase readCases[] = {
    {"all bytes complete at once", 4, {{0, 4, 4}}},
    {"silence ends after 120 ms per byte", 3, {{359, 0, stillPending}, {2, 0, 0}}},
    {"silence after bytes ends 100 ms after the last", 6,
     {{0, 2, stillPending}, {99, 0, stillPending}, {2, 0, 2}}},
    {"a byte every 50 ms keeps the read alive", 6,
     {{0, 1, stillPending}, {50, 1, stillPending}, {50, 1, stillPending}, {50, 1, stillPending},
      {99, 0, stillPending}, {2, 0, 4}}},
    {"the total bound cuts a late answer", 3,
     {{200, 1, stillPending}, {90, 1, stillPending}, {71, 0, 2}}},
    {"the time-outs are those configured", 3,
     {{0, 1, stillPending}, {29, 0, stillPending}, {1, 0, 1}}, {std::chrono::milliseconds(50),
                                                                std::chrono::milliseconds(30)}},
    {"a short total bound configured", 2,
     {{99, 0, stillPending}, {1, 0, 0}}, {std::chrono::milliseconds(50),
                                          std::chrono::milliseconds(30)}},
};
// clang-format on

TEST(PosixSerialPortRead, CompletesByCountTotalOrInterval) {
  for (const ReadCase& c : readCases) {
    SCOPED_TRACE(c.name);
    PtyDevice pty;
    ManualClock clock;
    PosixSerialPort port(clock.source());
    ASSERT_TRUE(port.open(pty.path()) && port.configure(c.timeouts)) << port.lastError().text;
    std::vector<std::uint8_t> buffer(c.size, 0);
    ASSERT_TRUE(port.startRead(buffer));
    std::uint8_t next = 1;
    for (const ReadStep& step : c.steps) {
      clock.t += std::chrono::milliseconds(step.advanceMs);
      PollResult r;
      if (step.send > 0) {
        auto bytes = countingBytes(step.send, next);
        ASSERT_TRUE(pty.send(bytes));
        std::size_t last = next - 1 + step.send - 1;
        r = pollUntil(port, clock.source(), [&] { return buffer[last] != 0; });
        next += step.send;
      } else {
        r = port.poll();
      }
      if (step.expect == stillPending) {
        ASSERT_TRUE(r.isPending());
      } else {
        ASSERT_TRUE(r.isCompleted());
        EXPECT_EQ(r.count, static_cast<std::size_t>(step.expect));
        EXPECT_EQ(std::vector(buffer.begin(), buffer.begin() + step.expect),
                  countingBytes(step.expect, 1));
      }
    }
  }
}

TEST_F(PortOnPty, ConfigureLeavesARawLineWithoutFlowControl) {
  int fd = ::open(pty.path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) GTEST_SKIP() << "cannot look at the line from a second descriptor";
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  ::close(fd);
  EXPECT_EQ(cfgetospeed(&t), B38400);
  EXPECT_EQ(cfgetispeed(&t), B38400);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(PortOnPty, WaitHintFollowsTheReadsDeadlines) {
  std::vector<std::uint8_t> buffer(10, 0);
  Clock::time_point start = clock.t;
  ASSERT_TRUE(port.startRead(buffer));
  WaitHint hint = port.waitHint();
  EXPECT_EQ(hint.waitable, port.descriptor());
  EXPECT_EQ(hint.deadline, start + 1200ms);
  clock.t += 300ms;
  ASSERT_TRUE(pty.send({7}));
  ASSERT_TRUE(pollUntil(port, clock.source(), [&] { return buffer[0] == 7; }).isPending());
  EXPECT_EQ(port.waitHint().deadline, start + 400ms);
}

TEST_F(PortOnPty, WriteTheDriverCannotTakeEndsAtItsTimeoutWithTheCountTaken) {
  std::vector<std::uint8_t> flood(4 << 20, 0x55);  // more than a pty holds while unread
  ASSERT_TRUE(port.startWrite(flood));
  ASSERT_TRUE(port.poll().isPending());
  WaitHint hint = port.waitHint();
  EXPECT_EQ(hint.waitable, -1);
  EXPECT_GT(hint.deadline, clock.t);
  clock.t += 120ms * flood.size();
  PollResult r = port.poll();
  ASSERT_TRUE(r.isCompleted());
  EXPECT_GT(r.count, 0u);
  EXPECT_LT(r.count, flood.size());
}

struct VanishCase {
  const char* name;
  std::function<void(PosixSerialPort&, PtyDevice&, std::vector<std::uint8_t>&)> act;
};

const VanishCase vanishCases[] = {
    {"device gone in the middle of a read",
     [](PosixSerialPort& port, PtyDevice& pty, std::vector<std::uint8_t>& buffer) {
       ASSERT_TRUE(port.startRead(buffer));
       ASSERT_TRUE(pty.send({9}));
       ManualClock never;
       pollUntil(port, never.source(), [&] { return buffer[0] == 9; });
       pty.hangUp();
     }},
    {"device gone before a read",
     [](PosixSerialPort& port, PtyDevice& pty, std::vector<std::uint8_t>& buffer) {
       pty.hangUp();
       ASSERT_TRUE(port.startRead(buffer));
     }},
    {"device gone before a write",
     [](PosixSerialPort& port, PtyDevice& pty, std::vector<std::uint8_t>& buffer) {
       pty.hangUp();
       EXPECT_FALSE(port.startWrite(buffer));
       EXPECT_EQ(port.lastError().cause, FailureCause::Vanished);
     }},
};

TEST(PosixSerialPortVanish, GoneDeviceFailsWithItsErrorInsteadOfTimingOut) {
  for (const VanishCase& c : vanishCases) {
    SCOPED_TRACE(c.name);
    PtyDevice pty;
    ManualClock clock;  // frozen: no time-out can end these operations
    PosixSerialPort port(clock.source());
    ASSERT_TRUE(port.open(pty.path()) && port.configure(lineTimeouts));
    std::vector<std::uint8_t> buffer(6, 0);
    c.act(port, pty, buffer);
    PollResult r = pollUntil(port, clock.source());
    ASSERT_TRUE(r.isFailed());
    EXPECT_EQ(r.error.cause, FailureCause::Vanished);
    EXPECT_EQ(r.error.number, EIO);
    EXPECT_FALSE(r.error.text.empty());
  }
}

TEST_F(PortOnPty, PurgeDropsWaitingInput) {
  ASSERT_TRUE(pty.send({1, 2, 3}));
  pollfd p{port.descriptor(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);  // the bytes wait in the driver
  std::vector<std::uint8_t> buffer(4, 0);
  ASSERT_TRUE(port.purge());
  ASSERT_TRUE(port.startRead(buffer));
  clock.t += 481ms;
  PollResult r = port.poll();
  ASSERT_TRUE(r.isCompleted());
  EXPECT_EQ(r.count, 0u);
}

TEST_F(PortOnPty, APriorityByteOnAHungUpLineFailsAsVanished) {
  pty.hangUp();
  EXPECT_FALSE(port.transmitPriority(0x1B));
  EXPECT_EQ(port.lastError().cause, FailureCause::Vanished);
}

TEST_F(PortOnPty, SecondOpenerIsTurnedAwayUntilTheFirstCloses) {
  PosixSerialPort other;
  EXPECT_FALSE(other.open(pty.path()));
  EXPECT_EQ(other.lastError().cause, FailureCause::Busy);
  EXPECT_FALSE(other.lastError().text.empty());
  EXPECT_NE(other.lastError().advice.find("Another program"), std::string::npos);
  port.close();
  EXPECT_TRUE(other.open(pty.path())) << other.lastError().text;
}

TEST(PosixSerialPortOpen, WhatKindOfPathDecidesOpenAndConfigure) {
  ScratchDir dir;
  std::ofstream(dir.path() / "image.bin") << "not a port";
  ASSERT_EQ(mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir.path() / "folder");
  PtyDevice pty;
  struct Case {
    std::string path;
    FailureCause openCause;  // None: opens
    FailureCause configureCause;
  } cases[] = {
      {pty.path(), FailureCause::None, FailureCause::None},
      {(dir.path() / "missing").string(), FailureCause::NotFound, {}},
      {(dir.path() / "folder").string(), FailureCause::Other, {}},
      {"/dev/null", FailureCause::None, FailureCause::NotATerminal},
      {(dir.path() / "image.bin").string(), FailureCause::None, FailureCause::NotATerminal},
      {(dir.path() / "fifo").string(), FailureCause::None, FailureCause::NotATerminal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PosixSerialPort port;
    bool opened = port.open(c.path);
    ASSERT_EQ(opened, c.openCause == FailureCause::None);
    if (!opened) {
      EXPECT_EQ(port.lastError().cause, c.openCause);
      EXPECT_NE(port.lastError().number, 0);
      EXPECT_FALSE(port.isOpen());
      continue;
    }
    EXPECT_EQ(port.configure(lineTimeouts), c.configureCause == FailureCause::None);
    if (c.configureCause != FailureCause::None) {
      EXPECT_EQ(port.lastError().cause, c.configureCause);
      EXPECT_EQ(port.lastError().number, ENOTTY);
    }
  }
}

// A refusal the person can do something about says what; as root no permission is refused,
// so the OS's answer is given here as the open would get it.
TEST(PosixOsError, ARefusedPermissionPointsToTheDialoutGroup) {
  const OsError denied = errnoError(EACCES, openFailureCause(EACCES));
  EXPECT_EQ(denied.cause, FailureCause::PermissionDenied);
  EXPECT_NE(denied.advice.find("dialout"), std::string::npos);
  EXPECT_TRUE(errnoError(ENOENT, openFailureCause(ENOENT)).advice.empty());
}

}  // namespace
}  // namespace morva
