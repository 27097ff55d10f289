// Faults: how they are written down, and what the device then does on the wire.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "sim/simulator.h"
#include "tests/sim/pty_client.h"

namespace morva::sim {
namespace {

using namespace test;
using std::chrono::milliseconds;
using ::testing::ElementsAreArray;

Fault fault(FaultAction action, FaultStep step, std::optional<std::uint16_t> block,
            std::uint8_t byte = 0x41, std::size_t count = 0, int delayMs = 0, bool once = false) {
  Fault f;
  f.action = action;
  f.step = step;
  f.block = block;
  f.byte = byte;
  f.count = count;
  f.delay = milliseconds(delayMs);
  f.once = once;
  return f;
}

TEST(FaultText, ReadsEveryPartOfTheForm) {
  struct Case {
    const char* text;
    Fault expected;
  };
  const Case cases[] = {
      {"nak@command:5", fault(FaultAction::Nak, FaultStep::Command, 5)},
      {"illegal@data:2", fault(FaultAction::Illegal, FaultStep::Data, 2)},
      {"illegal@wakeup=0x05", fault(FaultAction::Illegal, FaultStep::WakeUp, {}, 0x05)},
      {"corrupt@data", fault(FaultAction::Corrupt, FaultStep::Data, {}, 0x01)},
      {"short@data:3", fault(FaultAction::Short, FaultStep::Data, 3, 0x41, 200)},
      {"short@wakeup", fault(FaultAction::Short, FaultStep::WakeUp, {}, 0x41, 4)},
      {"pause@data:0=250", fault(FaultAction::Pause, FaultStep::Data, 0, 0x41, 0, 250)},
      {"late@command:4095/once",
       fault(FaultAction::Late, FaultStep::Command, 4095, 0x41, 0, 150, true)},
      {"garbage@wakeup", fault(FaultAction::Garbage, FaultStep::WakeUp, {}, 0x41, 3)},
      {"vanish@data:7=100", fault(FaultAction::Vanish, FaultStep::Data, 7, 0x41, 100)},
      {"twice@command", fault(FaultAction::Twice, FaultStep::Command, {})},
      {"silence@wakeup", fault(FaultAction::Silence, FaultStep::WakeUp, {})},
      {"hold@data:3=128/once", fault(FaultAction::Hold, FaultStep::Data, 3, 0x41, 128, 0, true)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parseFault(c.text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->action, c.expected.action);
    EXPECT_EQ(parsed->step, c.expected.step);
    EXPECT_EQ(parsed->block, c.expected.block);
    EXPECT_EQ(parsed->byte, c.expected.byte);
    EXPECT_EQ(parsed->count, c.expected.count);
    EXPECT_EQ(parsed->delay, c.expected.delay);
    EXPECT_EQ(parsed->once, c.expected.once);
    // What describeFault writes reads back as the same fault.
    const auto again = parseFault(describeFault(*parsed));
    ASSERT_TRUE(again) << describeFault(*parsed);
    EXPECT_EQ(describeFault(*again), describeFault(*parsed));
  }
}

TEST(FaultText, RejectsWhatItCannotRead) {
  for (const char* text : {"", "nak", "nak@", "@command", "nack@command", "nak@cmd",
                           "nak@command:4096", "nak@command:x", "nak@wakeup:3", "nak@command=1",
                           "illegal@data=256", "late@data=soon", "twice@data/twice"}) {
    EXPECT_FALSE(parseFault(text)) << text;
  }
}

// One exchange over the pty and the fault that spoils its answer.
enum class Exchange { Identify, WriteCommand, WriteData, ReadBlock };

struct WireCase {
  const char* fault;
  Exchange exchange;
  Bytes expected;      // the answer of the faulted step as the PC receives it
  bool stored = true;  // WriteData: whether the device kept the block
};

constexpr std::uint16_t block = 3;

// Runs the exchange up to the faulted answer and returns that answer, waiting for `expected`
// bytes of it at least.
Bytes run(PtyClient& pc, Exchange exchange, std::size_t expected) {
  switch (exchange) {
    case Exchange::Identify:
      pc.send({0x1B});
      break;
    case Exchange::WriteCommand:
      pc.send(writeCommand(block));
      break;
    case Exchange::WriteData:
      pc.send(writeCommand(block));
      EXPECT_THAT(pc.receive(1), ElementsAreArray({0x06}));
      pc.send(sealed(blockPattern(block)));
      break;
    case Exchange::ReadBlock:
      pc.send(readCommand(block));
      break;
  }
  return pc.receiveAnswer(expected);
}

TEST(FaultOnTheWire, EachFaultSpoilsItsAnswerAsDescribed) {
  const Bytes id = identificationFrame({});
  const Bytes frame = sealed(blockPattern(block));  // the memory is loaded with it below
  Bytes badSum = frame;
  badSum.back() = static_cast<std::uint8_t>(badSum.back() + 0x10);
  const WireCase cases[] = {
      {"nak@wakeup", Exchange::Identify, {0x02, 0x05, 0x01, 0x0A, 0xEE, 0x15}},
      {"illegal@wakeup=5", Exchange::Identify, {0x02, 0x05, 0x01, 0x0A, 0xEE, 0x05}},
      {"corrupt@wakeup", Exchange::Identify, {0x02, 0x05, 0x01, 0x0A, 0xEF, 0x06}},
      {"short@wakeup=4", Exchange::Identify, {0x02, 0x05, 0x01, 0x0A}},
      {"garbage@wakeup=3", Exchange::Identify, joined({0x5A, 0xA5, 0x3C}, id)},
      {"twice@wakeup", Exchange::Identify, joined(id, id)},
      {"silence@wakeup", Exchange::Identify, {}},
      {"nak@command:3", Exchange::WriteCommand, {0x15}},
      {"illegal@command:3=0x41", Exchange::WriteCommand, {0x41}},
      {"silence@command:3", Exchange::WriteCommand, {}},
      {"twice@command:3", Exchange::WriteCommand, {0x06, 0x06}},
      {"nak@data:3", Exchange::WriteData, {0x15}, false},
      {"illegal@data:3", Exchange::WriteData, {0x41}, false},
      {"silence@data:3", Exchange::WriteData, {}, false},
      {"late@data:3=20", Exchange::WriteData, {0x06}, true},
      {"short@data:3=200", Exchange::ReadBlock,
       joined({0x06}, Bytes(frame.begin(), frame.begin() + 200))},
      {"corrupt@data:3=0x10", Exchange::ReadBlock, joined({0x06}, badSum)},
      {"nak@data:3", Exchange::ReadBlock, {0x06, 0x15}},
      {"illegal@command:3", Exchange::ReadBlock, {0x41}},             // and no data frame after it
      {"nak@command:4", Exchange::ReadBlock, joined({0x06}, frame)},  // another block: no effect
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Simulator sim(withFault(c.fault));
    PtyClient pc(sim.portPath());
    if (c.exchange == Exchange::ReadBlock) {
      MemoryImage::Block data{};
      std::copy_n(frame.begin(), data.size(), data.begin());
      sim.memory().setBlock(block, data);
    }
    EXPECT_EQ(run(pc, c.exchange, c.expected.size()), c.expected);
    if (c.exchange == Exchange::WriteData) {
      const auto kept = sim.memory().block(block);
      EXPECT_EQ(std::equal(kept.begin(), kept.end(), frame.begin()), c.stored);
    }
  }
}

TEST(FaultOnTheWire, OnceFiresOnlyTheFirstTimeAndSetFaultsRearms) {
  Simulator sim(withFault("nak@command/once"));
  PtyClient pc(sim.portPath());
  pc.send(readCommand(1));
  EXPECT_THAT(pc.receiveAnswer(1), ElementsAreArray({0x15}));
  pc.send(readCommand(1));
  EXPECT_EQ(pc.receive(258).size(), 258u);

  sim.setFaults({*parseFault("silence@wakeup/once")});
  pc.send({0x1B});
  EXPECT_TRUE(pc.receiveUntilQuiet().empty());
  pc.send({0x1B});
  EXPECT_EQ(pc.receive(6), identificationFrame({}));
  sim.setFaults({});
  pc.send(readCommand(1));
  EXPECT_EQ(pc.receive(258).size(), 258u);
}

// A held answer goes out only when released, however long the PC waits; a release given
// before the hold lets it pass, and stopping the device ends a hold nobody released.
TEST(FaultOnTheWire, AHeldAnswerWaitsForItsRelease) {
  std::vector<std::string> held;
  SimulatorOptions options = withFault("hold@data:1=100");
  options.onHold = [&](std::string_view what) { held.emplace_back(what); };
  Simulator sim(std::move(options));
  PtyClient pc(sim.portPath());
  pc.send(readCommand(1));
  ASSERT_TRUE(sim.awaitHold());
  EXPECT_EQ(pc.receive(1 + 100).size(), 1u + 100u);
  EXPECT_TRUE(pc.receiveUntilQuiet().empty());
  sim.release();
  EXPECT_EQ(pc.receive(157).size(), 157u);
  ASSERT_EQ(held.size(), 1u);
  EXPECT_THAT(held[0], ::testing::HasSubstr("100 of 257 bytes sent"));

  sim.release();  // ahead of the next hold
  pc.send(readCommand(1));
  EXPECT_EQ(pc.receive(258).size(), 258u);
  EXPECT_EQ(sim.holdsReached(), 2u);

  pc.send(readCommand(1));
  ASSERT_TRUE(sim.awaitHold());
  EXPECT_TRUE(sim.stop());
}

TEST(FaultOnTheWire, VanishingClosesTheLineAfterThePartSent) {
  struct Case {
    const char* fault;
    Bytes command;
    std::size_t bytesBefore;
  };
  const Case cases[] = {
      {"vanish@wakeup", {0x1B}, 0},
      {"vanish@command:2", writeCommand(2), 0},
      {"vanish@data:1=100", readCommand(1), 1 + 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Simulator sim(withFault(c.fault));
    PtyClient pc(sim.portPath());
    pc.send(c.command);
    EXPECT_EQ(pc.receive(c.bytesBefore).size(), c.bytesBefore);
    EXPECT_TRUE(pc.seesHangUp());
    for (int i = 0; i < 300 && !sim.vanished(); ++i) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_TRUE(sim.vanished());
  }
}

}  // namespace
}  // namespace morva::sim
