// The Win32 serial port against vk350-sim, which run.sh puts behind the port named in
// MORVA_TEST_PORT (COM1 by default).
#include "platform/win32/serial_port.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "platform/win32/os_error.h"

namespace morva {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t esc = 0x1B;
constexpr std::uint8_t ack = 0x06;
// The simulated device's identification: versions 2.05 and 1.10, checksum, ACK.
const Bytes identification = {0x02, 0x05, 0x01, 0x0A, 0xEE, 0x06};
// READ_BLOCK for block 0.
const Bytes readBlockZero = {0x12, 0x00, 0x00, 0xEE};

std::string portName() {
  const char* name = std::getenv("MORVA_TEST_PORT");
  return name != nullptr && *name != '\0' ? name : "COM1";
}

// Polls until the operation ends, sleeping on the port in between; a hang guard of half a
// minute stops a driver that never ends it.
PollResult finish(SerialPort& port) {
  const auto guard = Clock::now() + 30s;
  for (;;) {
    PollResult r = port.poll();
    if (!r.isPending() || Clock::now() > guard) return r;
    port.waitForProgress(Clock::now() + 50ms);
  }
}

class SimulatedPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port.open(portName())) << port.lastError().text;
    ASSERT_TRUE(port.configure(lineTimeouts)) << port.lastError().text;
    ASSERT_TRUE(port.purge()) << port.lastError().text;
  }

  Bytes read(std::size_t n) {
    Bytes buffer(n);
    EXPECT_TRUE(port.startRead(buffer)) << port.lastError().text;
    PollResult r = finish(port);
    EXPECT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
    buffer.resize(r.isCompleted() ? r.count : 0);
    return buffer;
  }

  void write(const Bytes& bytes) {
    ASSERT_TRUE(port.startWrite(bytes)) << port.lastError().text;
    PollResult r = finish(port);
    ASSERT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
    EXPECT_EQ(r.count, bytes.size());
  }

  Win32SerialPort port;
};

TEST(Win32SerialPortNames, EveryFormOfThePortNameOpens) {
  const std::string name = portName();
  for (const std::string& form : {name, name + ":", "\\\\.\\" + name}) {
    Win32SerialPort port;
    EXPECT_TRUE(port.open(form)) << form << ": " << port.lastError().text;
    EXPECT_TRUE(port.isOpen()) << form;
    EXPECT_TRUE(port.configure(lineTimeouts)) << form << ": " << port.lastError().text;
    port.close();
    EXPECT_FALSE(port.isOpen()) << form;
  }
}

TEST(Win32SerialPortNames, UnknownPortIsNotFound) {
  Win32SerialPort port;
  EXPECT_FALSE(port.open("MORVA-NO-SUCH-PORT"));
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(port.lastError().number, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(port.lastError().cause, FailureCause::NotFound);
  EXPECT_FALSE(port.lastError().text.empty());
}

TEST(Win32SerialPortClosed, EveryOperationFailsAndThePollSaysWhy) {
  Win32SerialPort port;
  std::array<std::uint8_t, 1> buffer{};
  EXPECT_FALSE(port.configure(lineTimeouts));
  EXPECT_FALSE(port.purge());
  EXPECT_FALSE(port.transmitPriority(esc));
  EXPECT_FALSE(port.startRead(buffer));
  const WaitHint hint = port.waitHint();
  EXPECT_EQ(hint.waitable, -1);
  EXPECT_LE(hint.deadline, Clock::now());  // the failure is there to be polled
  PollResult r = port.poll();
  ASSERT_TRUE(r.isFailed());
  EXPECT_EQ(r.error.number, ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.waitHint().deadline, Clock::time_point::max());
}

TEST_F(SimulatedPort, ProbeGetsTheIdentification) {
  ASSERT_TRUE(port.transmitPriority(esc)) << port.lastError().text;
  EXPECT_EQ(read(6), identification);
}

TEST_F(SimulatedPort, SilentDeviceEndsTheReadByItsTimeoutWithNoBytes) {
  std::array<std::uint8_t, 1> buffer{};
  const auto started = Clock::now();
  ASSERT_TRUE(port.startRead(buffer));
  PollResult r = finish(port);
  ASSERT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
  EXPECT_EQ(r.count, 0u);
  // Not at once: the read waited for its 120 ms (a little less allows for the timers' grain).
  EXPECT_GE(Clock::now() - started, 100ms);
}

TEST_F(SimulatedPort, ReadEndedByThePauseAfterTheLastByteKeepsWhatCame) {
  write(readBlockZero);
  // The ACK and the data frame leave the device one after the other; a busy machine may part
  // them by more than the pause that ends a read, so the ACK is read alone first.
  EXPECT_EQ(read(1), Bytes{ack});
  Bytes answer = read(300);  // the 257-byte data frame, then silence
  EXPECT_EQ(answer.size(), 257u);
}

TEST_F(SimulatedPort, WriteAndReadEachWaitOnAnEventOfTheirOwn) {
  EXPECT_EQ(port.waitHint().waitable, -1);
  EXPECT_EQ(port.waitHint().deadline, Clock::time_point::max());

  ASSERT_TRUE(port.startWrite(readBlockZero));
  const std::intptr_t writeEvent = port.waitHint().waitable;
  EXPECT_TRUE(finish(port).isCompleted());

  Bytes answer(1 + 257);
  const auto started = Clock::now();
  ASSERT_TRUE(port.startRead(answer));
  const WaitHint hint = port.waitHint();
  EXPECT_NE(hint.waitable, -1);
  EXPECT_NE(writeEvent, -1);
  EXPECT_NE(hint.waitable, writeEvent);
  // Bounded by the read's total time-out, 120 ms per byte.
  EXPECT_GT(hint.deadline, started);
  EXPECT_LE(hint.deadline, Clock::now() + 258 * 120ms);
  PollResult r = finish(port);
  ASSERT_TRUE(r.isCompleted());
  EXPECT_EQ(r.count, answer.size());
}

TEST_F(SimulatedPort, PollWithNothingOutstandingFails) {
  EXPECT_TRUE(port.poll().isFailed());
}

TEST_F(SimulatedPort, SecondStartIsRefusedAndReportedByThePoll) {
  std::array<std::uint8_t, 6> first{};
  std::array<std::uint8_t, 1> second{};
  ASSERT_TRUE(port.startRead(first));
  EXPECT_FALSE(port.startRead(second));
  EXPECT_EQ(port.lastError().number, ERROR_BUSY);
  PollResult r = port.poll();
  ASSERT_TRUE(r.isFailed());
  EXPECT_EQ(r.error.number, ERROR_BUSY);
  // Both were given up; the port takes the next operation as usual.
  ASSERT_TRUE(port.transmitPriority(esc));
  EXPECT_EQ(read(6), identification);
}

TEST_F(SimulatedPort, PurgeAbortsTheOutstandingRead) {
  std::array<std::uint8_t, 6> buffer{};
  ASSERT_TRUE(port.startRead(buffer));
  ASSERT_TRUE(port.purge()) << port.lastError().text;
  EXPECT_TRUE(port.poll().isFailed());  // nothing outstanding any more
  EXPECT_EQ(port.waitHint().waitable, -1);
  ASSERT_TRUE(port.transmitPriority(esc));
  EXPECT_EQ(read(6), identification);
}

TEST_F(SimulatedPort, CloseWithAReadOutstandingLetsThePortOpenAgain) {
  std::array<std::uint8_t, 6> buffer{};
  ASSERT_TRUE(port.startRead(buffer));
  port.close();
  EXPECT_FALSE(port.isOpen());
  EXPECT_TRUE(port.poll().isFailed());
  ASSERT_TRUE(port.open(portName())) << port.lastError().text;
  ASSERT_TRUE(port.configure(lineTimeouts));
  ASSERT_TRUE(port.transmitPriority(esc));
  EXPECT_EQ(read(6), identification);
}

TEST(Win32Errors, CausesAndTexts) {
  struct Case {
    unsigned long number;
    FailureCause openCause;
    bool gone;
  };
  for (Case c : {Case{ERROR_ACCESS_DENIED, FailureCause::Busy, true},
                 Case{ERROR_FILE_NOT_FOUND, FailureCause::NotFound, false},
                 Case{ERROR_PATH_NOT_FOUND, FailureCause::NotFound, false},
                 Case{ERROR_BROKEN_PIPE, FailureCause::Other, true},
                 Case{ERROR_GEN_FAILURE, FailureCause::Other, true},
                 Case{ERROR_INVALID_PARAMETER, FailureCause::Other, false}}) {
    EXPECT_EQ(portOpenCause(c.number), c.openCause) << c.number;
    EXPECT_EQ(meansDeviceGone(c.number), c.gone) << c.number;
    OsError e = win32Error(c.number, FailureCause::Other);
    EXPECT_EQ(e.number, static_cast<int>(c.number));
    ASSERT_FALSE(e.text.empty()) << c.number;
    EXPECT_NE(e.text.back(), '\n') << c.number;
    EXPECT_NE(e.text.back(), '.') << c.number;
  }
}

}  // namespace
}  // namespace morva
