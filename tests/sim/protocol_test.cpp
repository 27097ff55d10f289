// The device's side of the exchange, driven over its pty as the PC would drive it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "sim/simulator.h"
#include "tests/sim/pty_client.h"

namespace morva::sim {
namespace {

using namespace test;
using ::testing::ElementsAreArray;

constexpr std::uint8_t ack = 0x06;
constexpr std::uint8_t nak = 0x15;
constexpr std::uint8_t esc = 0x1B;

struct VersionCase {
  Identification id;
  Bytes expected;
};

TEST(SimulatorProtocol, AnswersWakeUpWithItsIdentification) {
  const VersionCase cases[] = {
      {{}, {0x02, 0x05, 0x01, 0x0A, 0xEE, ack}},
      {{0, 0, 9, 99}, {0x00, 0x00, 0x09, 0x63, 0x94, ack}},
      {{255, 255, 10, 5}, {0xFF, 0xFF, 0x0A, 0x05, 0xF3, ack}},
  };
  for (const auto& c : cases) {
    SimulatorOptions options;
    options.identification = c.id;
    Simulator sim(options);
    PtyClient pc(sim.portPath());
    pc.send({esc});
    EXPECT_THAT(pc.receive(6), ElementsAreArray(c.expected));
    // Every ESC between frames starts over with the identification.
    pc.send({esc});
    EXPECT_THAT(pc.receive(6), ElementsAreArray(c.expected));
    EXPECT_EQ(sim.stats().wakeUps, 2u);
  }
}

TEST(SimulatorProtocol, StoresWrittenBlocksAndSendsThemBack) {
  Simulator sim;
  PtyClient pc(sim.portPath());
  // Block numbers whose bytes include ESC and the command bytes must still be plain data.
  const std::uint16_t blocks[] = {0, 0x1B, 0x111, 512, 896, 4095};
  for (const auto block : blocks) {
    SCOPED_TRACE(block);
    pc.send(writeCommand(block));
    ASSERT_THAT(pc.receive(1), ElementsAreArray({ack}));
    pc.send(sealed(blockPattern(block)));
    ASSERT_THAT(pc.receive(1), ElementsAreArray({ack}));
  }
  for (const auto block : blocks) {
    SCOPED_TRACE(block);
    pc.send(readCommand(block));
    EXPECT_EQ(pc.receive(258), joined({ack}, sealed(blockPattern(block))));
    const auto stored = sim.memory().block(block);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), blockPattern(block).begin()));
  }
  EXPECT_EQ(sim.stats().blocksWritten, std::size(blocks));
  EXPECT_EQ(sim.stats().blocksRead, std::size(blocks));
}

TEST(SimulatorProtocol, ReadsWhatTheMemoryHolds) {
  Simulator sim;
  MemoryImage::Block data{};
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  sim.memory().setBlock(700, data);
  PtyClient pc(sim.portPath());
  pc.send(readCommand(700));
  const Bytes got = pc.receive(258);
  ASSERT_EQ(got.size(), 258u);
  EXPECT_EQ(got[256], 0xFF);
  EXPECT_EQ(got[257], 0x80);  // 0 + 1 + ... + 255 is 0x80 modulo 256
  pc.send(readCommand(701));
  EXPECT_EQ(pc.receive(258), joined({ack}, sealed(Bytes(256, 0xFF))));  // erased memory
}

TEST(SimulatorProtocol, RefusesBadFramesWithNak) {
  Simulator sim;
  PtyClient pc(sim.portPath());
  struct Case {
    const char* what;
    Bytes command;
  };
  const Case cases[] = {
      {"write, checksum off by one", {0x11, 0x05, 0x00, 0xEB}},
      {"read, checksum off by one", {0x12, 0x05, 0x00, 0xEA}},
      {"block 4096", writeCommand(4096)},
      {"block 0xFFFF", readCommand(0xFFFF)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    pc.send(c.command);
    EXPECT_THAT(pc.receiveAnswer(1), ElementsAreArray({nak}));
  }
  // A data frame with a bad checksum is refused and leaves the memory as it was.
  pc.send(writeCommand(9));
  ASSERT_THAT(pc.receive(1), ElementsAreArray({ack}));
  Bytes frame = sealed(blockPattern(9));
  frame.back() ^= 0x01;
  pc.send(frame);
  EXPECT_THAT(pc.receiveAnswer(1), ElementsAreArray({nak}));
  EXPECT_EQ(sim.memory().block(9), MemoryImage{}.block(9));
  EXPECT_EQ(sim.stats().framesRefused, std::size(cases) + 1);
}

TEST(SimulatorProtocol, SkipsLineNoiseAndDropsFramesCutShortBySilence) {
  Simulator sim;
  PtyClient pc(sim.portPath());
  pc.send({0x00, 0x41, 0xFF, 0x06, esc});
  EXPECT_EQ(pc.receive(6), identificationFrame({}));

  pc.send({0x11, 0x05});  // half a command, then silence until the device has given it up
  for (int i = 0; i < 500 && sim.stats().framesDropped == 0; ++i)
    std::this_thread::sleep_for(Millis(10));
  EXPECT_TRUE(pc.receive(1, Millis(0)).empty());
  pc.send(readCommand(3));
  EXPECT_EQ(pc.receive(258).size(), 258u);
  EXPECT_EQ(sim.stats().framesDropped, 1u);
  EXPECT_EQ(sim.stats().bytesIgnored, 4u);
}

TEST(SimulatorProtocol, LoneEscWhereDataWasDueIsAWakeUp) {
  Simulator sim;
  PtyClient pc(sim.portPath());
  pc.send(writeCommand(4));
  ASSERT_THAT(pc.receive(1), ElementsAreArray({ack}));
  // The PC gave up on the write and starts a new session instead of sending the data.
  pc.send({esc});
  EXPECT_EQ(pc.receive(6), identificationFrame({}));
  EXPECT_EQ(sim.memory().block(4), MemoryImage{}.block(4));
  pc.send(readCommand(4));
  EXPECT_EQ(pc.receive(258).size(), 258u);
}

TEST(SimulatorProtocol, OutlivesThePcClosingAndReopeningThePort) {
  Simulator sim;
  for (int session = 0; session < 3; ++session) {
    PtyClient pc(sim.portPath());
    pc.send({esc});
    EXPECT_EQ(pc.receive(6), identificationFrame({}));
  }
  EXPECT_FALSE(sim.vanished());
}

TEST(SimulatorProtocol, TracesEveryFrameWithItsDirection) {
  std::vector<std::string> lines;
  std::mutex mutex;
  {
    SimulatorOptions options;
    options.trace = [&](std::string_view line) {
      std::lock_guard lock(mutex);
      lines.emplace_back(line);
    };
    Simulator sim(options);
    PtyClient pc(sim.portPath());
    pc.send({esc});
    pc.receive(6);
    pc.send({0x12, 0x00, 0x00, 0x00});
    pc.receive(1);
  }
  auto has = [&](std::string_view text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("PC->DEV 1B  wake-up"));
  EXPECT_TRUE(has("DEV->PC 02 05 01 0A EE 06  identification 2.05 1.10"));
  EXPECT_TRUE(has("PC->DEV 12 00 00 00  read block 0"));
  EXPECT_TRUE(has("DEV->PC 15  NAK: bad command checksum"));
}

}  // namespace
}  // namespace morva::sim
