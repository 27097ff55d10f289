// The device vanishing (adapter pulled, line hung up) at every step of every direction: the
// session ends with the port's error, the data file holds what it should, and the next session
// on a fresh device and a fresh port runs through.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/hardening/harness.h"
#include "tests/hardening/pullable_port.h"

namespace morva::hardening {
namespace {

constexpr std::size_t block = 256;
constexpr std::size_t programBlocks = 512;

struct VanishCase {
  const char* direction;   // "write", "read" or "verify"
  const char* fault;       // the simulator's own vanish, or "" when the cable is pulled
  int pullAt;              // with the cable: the read or write whose first poll finds it gone
  bool identified;         // the device identified itself before it went
  std::size_t blocksDone;  // blocks the device (write) or the file (read) holds for sure
  bool maybeOneMore;       // the block in flight may have made it too
};

std::string caseName(const ::testing::TestParamInfo<VanishCase>& info) {
  const VanishCase& c = info.param;
  return asTestName(std::string(c.direction) + "_" +
                    (*c.fault ? std::string(c.fault) : "pulled_at_" + std::to_string(c.pullAt)));
}

class Vanishing : public ::testing::TestWithParam<VanishCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    // The write source ends inside its ninth block, so a complete write is nine blocks.
    source = randomBytes(8 * block + 100, 11);
    writeFile(dir / "fw.upg", source);
    oldTarget = randomBytes(100 * block, 12);
    writeFile(dir / "old.upg", oldTarget);
    memory = randomBytes(sim::MemoryImage::byteCount, 13);
    writeFile(dir / "same.upg", slice(memory, 0, programBlocks * block));
  }

  sim::Simulator& startDevice(const char* fault) {
    sim::SimulatorOptions options;
    if (*fault) options.faults.push_back(*sim::parseFault(fault));
    device = std::make_unique<sim::Simulator>(std::move(options));
    device->memory().assign(memory);
    return *device;
  }

  // The file the direction works on: the source, an existing target, or the device's image.
  fs::path fileFor(const std::string& direction) const {
    if (direction == "write") return dir / "fw.upg";
    if (direction == "read") return dir / "old.upg";
    return dir / "same.upg";
  }

  void expectDeviceHolds(const VanishCase& c, const std::vector<std::uint8_t>& after) {
    auto padded = source;
    padded.resize(9 * block, 0);
    for (std::size_t b = 0; b < programBlocks; ++b) {
      const auto now = slice(after, b * block, block);
      const auto before = slice(memory, b * block, block);
      if (b < c.blocksDone) {
        EXPECT_EQ(now, slice(padded, b * block, block)) << "block " << b << " not written";
      } else if (b == c.blocksDone && c.maybeOneMore) {
        EXPECT_TRUE(now == before || now == slice(padded, b * block, block)) << "block " << b;
      } else {
        EXPECT_EQ(now, before) << "block " << b << " changed";
      }
    }
  }

  void expectTargetHolds(const VanishCase& c) {
    const auto file = readFile(dir / "old.upg");
    if (!c.identified) {
      EXPECT_EQ(file, oldTarget) << "the old content must survive a device that never answered";
      return;
    }
    const std::size_t blocks = file.size() / block;
    EXPECT_EQ(file.size() % block, 0u);
    EXPECT_TRUE(blocks == c.blocksDone || (c.maybeOneMore && blocks == c.blocksDone + 1))
        << "the file holds " << file.size() << " bytes";
    EXPECT_EQ(file, slice(memory, 0, blocks * block)) << "blocks not at their offsets";
  }

  // A fresh device and a fresh port: the same command runs through.
  void expectNextSessionCompletes(const std::string& direction) {
    startDevice("");
    PosixSerialPort port;
    const CliResult next =
        runCliOver(port, device->portPath(), {direction, "program", fileFor(direction)}, true);
    ASSERT_EQ(next.status, 0) << next.err;
    expectProgramComplete(direction, fileFor(direction), memory, source, *device);
  }

  ScratchDir dir;
  std::vector<std::uint8_t> source, oldTarget, memory;
  std::unique_ptr<sim::Simulator> device;
};

TEST_P(Vanishing, EndsWithThePortErrorAndTheNextSessionRuns) {
  const VanishCase& c = GetParam();
  startDevice(c.fault);
  std::vector<std::uint8_t> deviceAfter;
  // Pulling the cable: the device stops where it stands and its line closes for good.
  auto pull = [&] {
    device->stop();
    deviceAfter = device->memory().snapshot();
    device.reset();
  };
  PosixSerialPort real;
  PullablePort port(real, c.pullAt, pull);
  const std::string portPath = device->portPath();
  const CliResult result =
      runCliOver(port, portPath, {c.direction, "program", fileFor(c.direction)}, true);

  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_TRUE(result.said("Fail", "Error code : 5")) << result.err;
  if (*c.fault) {
    // The simulator raises its flag just after it closed the line, which the port may see
    // first.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!device->vanished() && std::chrono::steady_clock::now() < guard)
      std::this_thread::yield();
    EXPECT_TRUE(device->vanished()) << "the simulator never committed " << c.fault;
    deviceAfter = device->memory().snapshot();
  } else {
    EXPECT_TRUE(port.pulled()) << "the session ended before operation " << c.pullAt;
  }
  const std::string direction = c.direction;
  if (direction == "write") expectDeviceHolds(c, deviceAfter);
  if (direction == "read") expectTargetHolds(c);
  if (direction != "read") {
    EXPECT_EQ(readFile(fileFor(direction)),
              direction == "write" ? source : slice(memory, 0, programBlocks * block))
        << "a file that is only read must never change";
  }
  EXPECT_EQ(slice(deviceAfter, programBlocks * block, 1 << 19),
            slice(memory, programBlocks * block, 1 << 19))
      << "blocks outside the session's range changed";
  expectNextSessionCompletes(direction);
}

// Operations of a session: 1 the WakeUp, 2 the identification; then per block, for a write
// 4b+3 command, 4b+4 its answer, 4b+5 the data frame, 4b+6 its answer; for a read or verify
// 3b+3 command, 3b+4 its answer, 3b+5 the data frame.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, Vanishing,
    ::testing::Values(
        // Steps 1 and 2: the WakeUp going out, the identification coming in.
        VanishCase{"write", "", 1, false, 0, false}, VanishCase{"read", "", 1, false, 0, false},
        VanishCase{"read", "", 2, false, 0, false},
        VanishCase{"write", "vanish@wakeup", 0, false, 0, false},
        VanishCase{"read", "vanish@wakeup=3", 0, false, 0, false},
        // Identified, then gone before the first command was answered.
        VanishCase{"read", "vanish@wakeup=6", 0, true, 0, false},
        VanishCase{"verify", "vanish@wakeup=6", 0, true, 0, false},
        // Steps 3 to 5: the block command going out and its answer.
        VanishCase{"write", "", 4 * 2 + 3, true, 2, false},
        VanishCase{"read", "", 3 * 4 + 3, true, 4, false},
        VanishCase{"verify", "", 3 * 4 + 4, true, 4, false},
        VanishCase{"write", "vanish@command:0", 0, true, 0, false},
        // Steps 6 to 8: the data frame and its answer, either way.
        VanishCase{"write", "vanish@command:3=1", 0, true, 3, false},
        VanishCase{"read", "vanish@command:3=1", 0, true, 3, false},
        VanishCase{"write", "", 4 * 2 + 5, true, 2, true},
        VanishCase{"write", "", 4 * 2 + 6, true, 2, true},
        VanishCase{"read", "", 3 * 4 + 5, true, 4, true},
        VanishCase{"read", "vanish@data:5=100", 0, true, 5, false},
        VanishCase{"verify", "vanish@data:2=10", 0, true, 2, false},
        VanishCase{"write", "vanish@data:5", 0, true, 5, false},
        // Step 9: the block done, the device gone before the next command. (The simulated
        // device that vanishes after its ACK has not stored the frame it acknowledged.)
        VanishCase{"read", "vanish@data:5=257", 0, true, 6, false},
        VanishCase{"write", "vanish@data:5=1", 0, true, 5, false}),
    caseName);

}  // namespace
}  // namespace morva::hardening
