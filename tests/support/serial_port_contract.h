// What every serial port promises the engine and the device search (transfer/serial_port.h),
// shown against the simulated device at the far end of the line: the ESC it answers with its
// six-byte identification, and a read that is owed nothing. Timing is judged only by lower
// bounds and by hang guards far beyond what any case needs.
//
// A port's own test program includes this header once and defines contractLine(): how to make
// its port, where the device answers, and the OS's numbers for the refusals.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "tests/support/fake_serial_port.h"
#include "transfer/frames.h"
#include "transfer/serial_port.h"

namespace morva::testing {

struct ContractLine {
  std::string deviceName;  // the port behind which the device answers, with no faults
  std::function<std::unique_ptr<SerialPort>()> makePort;
  // The error numbers of a closed port, of a start while another operation is outstanding,
  // and of a poll with nothing outstanding.
  int notOpen = 0;
  int busy = 0;
  int nothingOutstanding = 0;
};

ContractLine contractLine();

class SerialPortContract : public ::testing::Test {
 protected:
  using Bytes = std::vector<std::uint8_t>;

  void SetUp() override {
    ASSERT_TRUE(port->open(line.deviceName)) << port->lastError().text;
    ASSERT_TRUE(port->configure(lineTimeouts)) << port->lastError().text;
    ASSERT_TRUE(port->purge()) << port->lastError().text;
  }

  // Polls until the operation ends, waiting on the port in between for as long as the port
  // says (the wait asked for is far longer); every poll is counted. A guard of half a minute
  // ends a port that never finishes.
  PollResult finish() {
    const auto guard = Clock::now() + std::chrono::seconds(30);
    for (;;) {
      ++polls;
      const PollResult r = port->poll();
      if (!r.isPending() || Clock::now() > guard) return r;
      port->waitForProgress(Clock::now() + std::chrono::seconds(10));
    }
  }

  // A read of up to n bytes, as it completed.
  Bytes read(std::size_t n) {
    Bytes buffer(n);
    EXPECT_TRUE(port->startRead(buffer)) << port->lastError().text;
    const PollResult r = finish();
    EXPECT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
    buffer.resize(r.isCompleted() ? r.count : 0);
    return buffer;
  }

  // A write that completes with every byte.
  void write(std::span<const std::uint8_t> bytes) {
    ASSERT_TRUE(port->startWrite(bytes)) << port->lastError().text;
    const PollResult r = finish();
    ASSERT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
    EXPECT_EQ(r.count, bytes.size());
  }

  // The port takes its next operation as usual: the WakeUp is answered with the identification.
  void expectTheWakeUpAnswered() {
    ASSERT_TRUE(port->transmitPriority(ESC)) << port->lastError().text;
    EXPECT_EQ(read(identificationSize), deviceIdentification);
  }

  ContractLine line = contractLine();
  std::unique_ptr<SerialPort> port = line.makePort();
  int polls = 0;
};

using std::chrono::milliseconds;

TEST_F(SerialPortContract, AClosedPortRefusesEverythingAndItsPollSaysWhy) {
  const std::unique_ptr<SerialPort> closed = line.makePort();
  std::array<std::uint8_t, 1> buffer{};
  EXPECT_FALSE(closed->isOpen());
  EXPECT_FALSE(closed->configure(lineTimeouts));
  EXPECT_FALSE(closed->purge());
  EXPECT_FALSE(closed->transmitPriority(ESC));
  EXPECT_FALSE(closed->startRead(buffer));
  EXPECT_EQ(closed->lastError().number, line.notOpen);
  const WaitHint failed = closed->waitHint();
  EXPECT_EQ(failed.waitable, -1);
  EXPECT_LE(failed.deadline, Clock::now());  // the failed start is there to be polled
  const PollResult r = closed->poll();
  ASSERT_TRUE(r.isFailed());
  EXPECT_EQ(r.error.number, line.notOpen);
  EXPECT_EQ(closed->waitHint().deadline, Clock::time_point::max());
  EXPECT_EQ(closed->poll().error.number, line.notOpen);
}

// The priority byte is the WakeUp; the identification comes in two reads, each taking only
// the count it asked for.
TEST_F(SerialPortContract, APriorityByteReachesTheDeviceAndEachReadTakesOnlyItsCount) {
  ASSERT_TRUE(port->transmitPriority(ESC)) << port->lastError().text;
  Bytes answer = read(4);
  const Bytes rest = read(2);
  answer.insert(answer.end(), rest.begin(), rest.end());
  EXPECT_EQ(answer, deviceIdentification);
}

// Flow-control characters (0x11 is also the block-write command), CR, LF and 0xFF cross the
// line as they are, both ways: a block of every byte value is written and read back.
TEST_F(SerialPortContract, EveryByteValueCrossesUnchangedBothWays) {
  std::array<std::uint8_t, dataFrameSize> frame{};
  std::iota(frame.begin(), frame.begin() + blockSize, 0);
  sealDataFrame(frame);
  write(buildBlockCommand(Direction::WriteToDevice, 7));
  ASSERT_EQ(read(1), Bytes{ACK});
  write(frame);
  ASSERT_EQ(read(1), Bytes{ACK});
  write(buildBlockCommand(Direction::ReadFromDevice, 7));
  ASSERT_EQ(read(1), Bytes{ACK});
  EXPECT_EQ(read(dataFrameSize), Bytes(frame.begin(), frame.end()));
}

// Nothing is owed: a one-byte read ends by its time-out (120 ms) with no bytes, and the loop
// that waits for it sleeps on the port instead of polling without pause.
TEST_F(SerialPortContract, ASilentReadEndsByItsTimeOutWithNoBytesAndTheWaitNeverSpins) {
  std::array<std::uint8_t, 1> buffer{};
  const auto started = Clock::now();
  ASSERT_TRUE(port->startRead(buffer));
  const PollResult r = finish();
  const auto took = Clock::now() - started;
  ASSERT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(took, milliseconds(100));  // a little under 120 ms allows for the timers' grain
  EXPECT_LE(polls, 10 + took / milliseconds(5));  // a spinning loop polls thousands of times
}

// A read asked for more than comes ends the pause after the last byte, with what came: the
// ACK of a block command alone first (a busy machine may part it from the frame), then the
// 257-byte data frame.
TEST_F(SerialPortContract, AReadEndsThePauseAfterTheLastByteWithWhatCame) {
  write(buildBlockCommand(Direction::ReadFromDevice, 0));
  EXPECT_EQ(read(1), Bytes{ACK});
  const Bytes frame = read(300);
  ASSERT_EQ(frame.size(), dataFrameSize);
  EXPECT_EQ(sumMod256(frame), 0);
}

// The time-outs are those configure() was given, not the line's: 20 ms a byte ends a silent
// read of 50 bytes after a second (the line's would take six), and a pause of 400 ms after
// the last byte ends a read no sooner (the line's ends it after 100 ms).
TEST_F(SerialPortContract, TheTimeOutsAreThoseConfigured) {
  ASSERT_TRUE(port->configure({milliseconds(20), milliseconds(400)})) << port->lastError().text;
  Bytes silent(50);
  auto started = Clock::now();
  ASSERT_TRUE(port->startRead(silent));
  const PollResult r = finish();
  const auto took = Clock::now() - started;
  ASSERT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(took, milliseconds(900));
  EXPECT_LT(took, milliseconds(5000));

  ASSERT_TRUE(port->configure({milliseconds(1000), milliseconds(400)})) << port->lastError().text;
  write(buildBlockCommand(Direction::ReadFromDevice, 0));
  EXPECT_EQ(read(1), Bytes{ACK});
  started = Clock::now();
  EXPECT_EQ(read(300).size(), dataFrameSize);
  EXPECT_GE(Clock::now() - started, milliseconds(380));
}

// A pending read names what to wait on and a deadline within its total time-out (200 bytes:
// 24 s); a wait ends once the answer has come, long before that.
TEST_F(SerialPortContract, APendingReadIsWaitedForOnItsWaitableUntilTheAnswerComes) {
  ASSERT_TRUE(port->transmitPriority(ESC)) << port->lastError().text;
  Bytes answer(200);
  const auto started = Clock::now();
  ASSERT_TRUE(port->startRead(answer));
  const WaitHint hint = port->waitHint();
  EXPECT_NE(hint.waitable, -1);
  EXPECT_GT(hint.deadline, started);
  EXPECT_LE(hint.deadline, Clock::now() + 200 * lineTimeouts.perByte);
  const auto before = Clock::now();
  port->waitForProgress(before + std::chrono::seconds(10));
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
  const PollResult r = finish();
  ASSERT_TRUE(r.isCompleted()) << r.error.number << " " << r.error.text;
  answer.resize(r.count);
  EXPECT_EQ(answer, deviceIdentification);
}

// With nothing outstanding there is nothing to wait for: no waitable and no deadline, a wait
// that returns at once, and a poll that fails instead of guessing.
TEST_F(SerialPortContract, WithNothingOutstandingTheWaitReturnsAndThePollFails) {
  const WaitHint idle = port->waitHint();
  EXPECT_EQ(idle.waitable, -1);
  EXPECT_EQ(idle.deadline, Clock::time_point::max());
  const auto before = Clock::now();
  port->waitForProgress(before + std::chrono::seconds(10));
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
  const PollResult r = port->poll();
  ASSERT_TRUE(r.isFailed());
  EXPECT_EQ(r.error.number, line.nothingOutstanding);
}

// One operation at a time: a second start fails at once, the next poll reports it, both are
// given up, and the port takes the next operation as usual.
TEST_F(SerialPortContract, ASecondStartFailsTheNextPollSaysSoAndThePortGoesOn) {
  std::array<std::uint8_t, 6> first{};
  const std::array<std::uint8_t, 1> second{ESC};
  ASSERT_TRUE(port->startRead(first));
  EXPECT_FALSE(port->startWrite(second));
  EXPECT_EQ(port->lastError().number, line.busy);
  const WaitHint failed = port->waitHint();
  EXPECT_LE(failed.deadline, Clock::now());  // the failure is due now
  const PollResult r = port->poll();
  ASSERT_TRUE(r.isFailed());
  EXPECT_EQ(r.error.number, line.busy);
  EXPECT_EQ(port->poll().error.number, line.nothingOutstanding);
  expectTheWakeUpAnswered();
}

TEST_F(SerialPortContract, PurgeAbortsTheOutstandingReadAndThePortGoesOn) {
  std::array<std::uint8_t, 6> buffer{};
  ASSERT_TRUE(port->startRead(buffer));
  ASSERT_TRUE(port->purge()) << port->lastError().text;
  EXPECT_EQ(port->waitHint().waitable, -1);
  EXPECT_EQ(port->poll().error.number, line.nothingOutstanding);
  expectTheWakeUpAnswered();
}

TEST_F(SerialPortContract, CloseAbortsTheOutstandingReadAndThePortOpensAgain) {
  std::array<std::uint8_t, 6> buffer{};
  ASSERT_TRUE(port->startRead(buffer));
  port->close();
  EXPECT_FALSE(port->isOpen());
  EXPECT_EQ(port->poll().error.number, line.notOpen);
  ASSERT_TRUE(port->open(line.deviceName)) << port->lastError().text;
  ASSERT_TRUE(port->configure(lineTimeouts)) << port->lastError().text;
  expectTheWakeUpAnswered();
}

}  // namespace morva::testing
