// The operator leaving a session half-way, by the Stop command or by starting the next session
// straight away, and the next session that follows at once: the engine driven step by step over
// a real port against the simulated controller.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>
#include <tuple>

#include "sim/simulator.h"
#include "tests/hardening/engine_rig.h"
#include "tests/hardening/harness.h"

namespace morva::hardening {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t block = 256;
constexpr std::size_t programBlocks = 512;
constexpr std::uint16_t leftBlock = 3;  // the block during which the first session is left

// A line that stops taking bytes part-way through the data frame of block `leftBlock`: the
// device holds the start of a frame whose end never comes, as after a purge that aborted the
// transmission. Everything else passes to the real port.
class StallingPort : public SerialPort {
 public:
  // `received` counts the bytes the device has taken in.
  StallingPort(SerialPort& real, std::function<unsigned()> received)
      : real_(real), received_(std::move(received)) {}

  bool open(const std::string& name) override { return real_.open(name); }
  bool configure(const Timeouts& timeouts) override { return real_.configure(timeouts); }
  void close() override {
    stalled_ = false;
    real_.close();
  }
  bool isOpen() const override { return real_.isOpen(); }
  bool purge() override {
    stalled_ = false;
    return real_.purge();
  }
  bool transmitPriority(std::uint8_t byte) override { return real_.transmitPriority(byte); }
  bool startRead(std::span<std::uint8_t> buffer) override { return real_.startRead(buffer); }
  bool startWrite(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() == block + 1 && frames_++ == leftBlock) {
      stalled_ = true;
      const unsigned before = received_();
      const bool started = real_.startWrite(bytes.first(stalledAt));
      // A purge takes back what the device has not read yet; on a real line those bytes
      // would long be over: wait until they have landed.
      const auto guard = Clock::now() + 10s;
      while (received_() < before + stalledAt && Clock::now() < guard)
        std::this_thread::sleep_for(1ms);
      return started;
    }
    return real_.startWrite(bytes);
  }
  std::size_t takeUnasked(std::span<std::uint8_t> buffer) override {
    return real_.takeUnasked(buffer);
  }
  bool startGapRead(std::span<std::uint8_t> buffer) override { return real_.startGapRead(buffer); }
  PollResult poll() override { return stalled_ ? PollResult::pending() : real_.poll(); }
  WaitHint waitHint() const override {
    return stalled_ ? WaitHint{-1, Clock::now() + 10ms} : real_.waitHint();
  }
  void waitForProgress(Clock::time_point until) override {
    if (!stalled_) return real_.waitForProgress(until);
    std::this_thread::sleep_until(std::min(until, Clock::now() + 10ms));
  }
  const OsError& lastError() const override { return real_.lastError(); }

  static constexpr std::size_t stalledAt = 100;

 private:
  SerialPort& real_;
  std::function<unsigned()> received_;
  int frames_ = 0;
  bool stalled_ = false;
};

// How a case leaves block `leftBlock` of the first session.
enum class Leave {
  AtStep,            // as soon as the session stands at the step
  WhileDeviceHolds,  // at the step, once the device holds back (part of) its answer
  WhileFrameStalls,  // at the step, with the data frame stalled part-way (StallingPort)
};

struct LeaveCase {
  const char* name;
  Direction direction;
  const char* fault;  // a hold fault keeps the device owing its answer until released
  TransferStep step;  // the step of block `leftBlock` at which the session is left
  Leave leave;
  bool stopFirst;  // the Stop command first; otherwise the next start abandons the session
};

// Each case runs as the loop runs it, and once more with every wait on the port stretched
// well past the device's answer times: how long the loop sleeps must not decide the outcome.
using LeaveParam = std::tuple<LeaveCase, bool>;

std::string caseName(const ::testing::TestParamInfo<LeaveParam>& info) {
  return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_slow_waits" : "");
}

class Leaving : public ::testing::TestWithParam<LeaveParam> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    memory = randomBytes(sim::MemoryImage::byteCount, 31);
    source = randomBytes(8 * block + 10, 32);
    writeFile(dir / "fw.upg", source);
    writeFile(dir / "same.upg", slice(memory, 0, programBlocks * block));
    padded = source;
    padded.resize(9 * block, 0);

    const LeaveCase& c = param();
    sim::SimulatorOptions options;
    if (*c.fault) options.faults.push_back(*sim::parseFault(c.fault));
    device = std::make_unique<sim::Simulator>(std::move(options));
    device->memory().assign(memory);
    if (c.leave == Leave::WhileFrameStalls) rig.link.port = &stalling;
    ASSERT_TRUE(rig.openPort(device->portPath()));
  }

  const LeaveCase& param() const { return std::get<0>(GetParam()); }

  fs::path file() const {
    switch (param().direction) {
      case Direction::WriteToDevice:
        return dir / "fw.upg";
      case Direction::ReadFromDevice:
        return dir / "new.upg";
      default:
        return dir / "same.upg";
    }
  }

  // The start sequence of a command; a read overwrites what the session before it left.
  StartResult start() {
    rig.op.answers.push_back(Answer::Yes);
    const StartResult started = rig.start(param().direction, DataKind::FirmwareUpgrade, file());
    rig.op.answers.clear();
    return started;
  }

  // Runs the first session up to the chosen moment and leaves it there. A held answer is let
  // go once the session is left: the device then talks into the start of the next one.
  void leaveFirstSession() {
    const LeaveCase& c = param();
    if (std::get<1>(GetParam())) rig.minimumWait = 150ms;
    ASSERT_EQ(start(), StartResult::Started);
    ASSERT_TRUE(rig.runUntil([&](StepResult) {
      return rig.state.transferStep == c.step && rig.state.currentBlock == leftBlock;
    }));
    ASSERT_EQ(rig.state.transferStep, c.step) << "the session ended before it could be left";
    if (c.leave == Leave::WhileDeviceHolds) {
      ASSERT_TRUE(device->awaitHold()) << "the device never came to hold its answer";
    }
    if (c.stopFirst) rig.stop();
    rig.minimumWait = 0ms;
    device->release();
    rig.op.clear();
  }

  // A session started now runs to its end, one way or the other.
  void runNextSession() {
    ASSERT_EQ(start(), StartResult::Started);
    ASSERT_TRUE(rig.runToEnd()) << "the session hangs at step "
                                << stepNumber(rig.state.transferStep);
  }

  bool completed() const {
    return rig.state.outcome == SessionOutcome::Completed && rig.state.differences == 0;
  }

  std::vector<std::string> failuresShown() const {
    std::vector<std::string> texts;
    for (const auto& m : rig.op.messages)
      if (m.caption == "Fail") texts.push_back(m.text);
    return texts;
  }

  std::string messages() const {
    std::string all;
    for (const auto& m : rig.op.shown()) all += m + "\n";
    return all;
  }

  // Whatever happened, nothing wrong was stored: each device block is the file's or the old
  // one, and a read's file holds the device's blocks at their offsets.
  void expectNothingWrong() {
    if (param().direction == Direction::WriteToDevice) {
      const auto now = device->memory().snapshot();
      for (std::size_t b = 0; b < programBlocks; ++b) {
        const auto got = slice(now, b * block, block);
        EXPECT_TRUE(got == slice(memory, b * block, block) ||
                    (b < 9 && got == slice(padded, b * block, block)))
            << "block " << b << " holds something else";
      }
    } else if (param().direction == Direction::ReadFromDevice) {
      rig.state.targetFile.close();
      const auto got = readFile(dir / "new.upg");
      EXPECT_EQ(got, slice(memory, 0, got.size()));
    }
  }

  void expectComplete() {
    ASSERT_TRUE(completed()) << messages();
    if (param().direction == Direction::WriteToDevice) {
      EXPECT_EQ(slice(device->memory().snapshot(), 0, 9 * block), padded);
    } else if (param().direction == Direction::ReadFromDevice) {
      EXPECT_EQ(readFile(dir / "new.upg"), slice(memory, 0, programBlocks * block));
    }
  }

  ScratchDir dir;
  std::vector<std::uint8_t> memory, source, padded;
  std::unique_ptr<sim::Simulator> device;
  EngineRig rig;
  StallingPort stalling{*rig.port, [this] { return device->stats().bytesReceived; }};
};

using LeftBetweenBlocks = Leaving;

// Between two blocks nothing is on the line: the next session runs through at once.
TEST_P(LeftBetweenBlocks, TheNextSessionCompletesAtOnce) {
  leaveFirstSession();
  runNextSession();
  expectComplete();
  EXPECT_EQ(device->stats().wakeUps, 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Restart, LeftBetweenBlocks,
    ::testing::Combine(
        ::testing::Values(LeaveCase{"read_stopped_before_command", Direction::ReadFromDevice, "",
                                    TransferStep::SendCommand, Leave::AtStep, true},
                          LeaveCase{"read_abandoned_after_frame", Direction::ReadFromDevice, "",
                                    TransferStep::CountBlock, Leave::AtStep, false},
                          LeaveCase{"write_stopped_after_answer", Direction::WriteToDevice, "",
                                    TransferStep::CountBlock, Leave::AtStep, true},
                          LeaveCase{"write_abandoned_before_command", Direction::WriteToDevice, "",
                                    TransferStep::SendCommand, Leave::AtStep, false},
                          LeaveCase{"verify_stopped_before_command", Direction::Verify, "",
                                    TransferStep::SendCommand, Leave::AtStep, true},
                          LeaveCase{"verify_abandoned_after_frame", Direction::Verify, "",
                                    TransferStep::CountBlock, Leave::AtStep, false}),
        ::testing::Values(false)),
    caseName);

using LeftMidFrame = Leaving;

// Left while a frame or its answer is still on its way, the device goes on talking (or holds
// a frame begun) into the next session's identification. That session ends one way or the
// other without harm; once the line is quiet, the one after it runs through.
TEST_P(LeftMidFrame, TheNextSessionEndsCleanlyAndOnceTheLineIsQuietOneCompletes) {
  leaveFirstSession();
  runNextSession();
  if (!completed()) {
    const auto failures = failuresShown();
    ASSERT_EQ(failures.size(), 1u) << messages();
    EXPECT_EQ(failures[0].rfind("Initialization error : ", 0), 0u) << messages();
  }
  expectNothingWrong();
  rig.op.clear();
  ASSERT_TRUE(drainUntilQuiet(*rig.link.port));
  runNextSession();
  expectComplete();
}

// A session started at once after one left mid-frame completes: the bytes the device is still
// sending (the rest of a data frame, the ACK of a written frame) are dropped while the line
// falls quiet before the WakeUp, and a frame the device holds half-received is given up by it.
TEST_P(LeftMidFrame, TheNextSessionStartedAtOnceCompletes) {
  leaveFirstSession();
  runNextSession();
  expectComplete();
}

INSTANTIATE_TEST_SUITE_P(
    Restart, LeftMidFrame,
    ::testing::Combine(
        ::testing::Values(
            // The device's data frame is half-way over when the operator stops; the second half
            // follows once the session is left.
            LeaveCase{"read_stopped_in_frame", Direction::ReadFromDevice, "hold@data:3=128/once",
                      TransferStep::AwaitDataFrame, Leave::WhileDeviceHolds, true},
            LeaveCase{"verify_abandoned_in_frame", Direction::Verify, "hold@data:3=128/once",
                      TransferStep::AwaitDataFrame, Leave::WhileDeviceHolds, false},
            // The device has taken the written frame in; its ACK is still owed.
            LeaveCase{"write_stopped_before_answer", Direction::WriteToDevice, "hold@data:3/once",
                      TransferStep::AwaitDataAnswer, Leave::WhileDeviceHolds, true},
            // The device holds the start of a data frame.
            LeaveCase{"write_stopped_in_frame", Direction::WriteToDevice, "",
                      TransferStep::AwaitDataSent, Leave::WhileFrameStalls, true}),
        ::testing::Bool()),
    caseName);

}  // namespace
}  // namespace morva::hardening
