// A device that stalls, answers late, sends junk ahead of its identification or answers twice:
// each outcome follows from the read sizes and time-outs of the link, and leftovers never slip
// into a later frame unnoticed.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/hardening/engine_rig.h"
#include "tests/hardening/harness.h"

namespace morva::hardening {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t block = 256;
constexpr std::size_t programBlocks = 512;

sim::Identification versions(std::uint8_t major, std::uint8_t minor, std::uint8_t major2,
                             std::uint8_t minor2) {
  sim::Identification id;
  id.firmwareMajor = major;
  id.firmwareMinor = minor;
  id.secondMajor = major2;
  id.secondMinor = minor2;
  return id;
}

struct AnswerCase {
  const char* direction;
  const char* fault;
  int status;                      // 0: the session completes
  const char* message;             // the "Fail" text when it does not
  std::size_t readBlocks = 0;      // a read's file after the failure
  sim::Identification id = {};     // the versions the device reports
  bool retryOnSameDevice = false;  // everything the device sent had arrived by the end
};

std::string caseName(const ::testing::TestParamInfo<AnswerCase>& info) {
  std::string name = std::string(info.param.direction) + "_" + info.param.fault;
  if (info.param.id.secondMinor != 10 || info.param.id.firmwareMajor != 2)
    name += "_id" + std::to_string(info.param.id.firmwareMajor) + "_" +
            std::to_string(info.param.id.secondMinor);
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

class Answers : public ::testing::TestWithParam<AnswerCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    memory = randomBytes(sim::MemoryImage::byteCount, 21);
    // Block 2: 0x41 then zeros. Sent twice, its first byte stands where the next answer is
    // due; read one byte late, its bytes sum to 0x41 plus the ACK ahead of them.
    std::fill_n(memory.begin() + 2 * block, block, 0);
    memory[2 * block] = 0x41;
    source = randomBytes(5 * block + 10, 22);
    writeFile(dir / "fw.upg", source);
    writeFile(dir / "same.upg", slice(memory, 0, programBlocks * block));
  }

  void startDevice(const AnswerCase& c) {
    sim::SimulatorOptions options;
    options.faults.push_back(*sim::parseFault(c.fault));
    options.identification = c.id;
    device = std::make_unique<sim::Simulator>(std::move(options));
    device->memory().assign(memory);
  }

  fs::path fileFor(const std::string& direction) const {
    if (direction == "write") return dir / "fw.upg";
    if (direction == "read") return dir / "new.upg";
    return dir / "same.upg";
  }

  // --yes: a retried read overwrites what the failed one left.
  CliResult runSession(const std::string& direction) {
    PosixSerialPort port;
    return runCliOver(port, device->portPath(), {direction, "program", fileFor(direction)}, true);
  }

  // What a complete session leaves: the device holds the source, or the file the device.
  void expectCompleteData(const std::string& direction) {
    if (direction == "read") {
      EXPECT_EQ(readFile(dir / "new.upg"), slice(memory, 0, programBlocks * block));
    } else if (direction == "write") {
      auto padded = source;
      padded.resize(6 * block, 0);
      EXPECT_EQ(slice(device->memory().snapshot(), 0, 6 * block), padded);
    }
  }

  ScratchDir dir;
  std::vector<std::uint8_t> memory, source;
  std::unique_ptr<sim::Simulator> device;
};

TEST_P(Answers, EndAsTheLinkRulesSay) {
  const AnswerCase& c = GetParam();
  startDevice(c);
  const std::string direction = c.direction;
  const CliResult result = runSession(direction);
  ASSERT_EQ(result.status, c.status) << result.err;
  if (c.status == 0) {
    expectCompleteData(direction);
    return;
  }
  EXPECT_TRUE(result.said("Fail", c.message)) << "expected \"" << c.message << "\" in:\n"
                                              << result.err;
  if (direction == "read") {
    EXPECT_EQ(readFile(dir / "new.upg"), slice(memory, 0, c.readBlocks * block));
  } else if (direction == "write") {
    EXPECT_EQ(readFile(dir / "fw.upg"), source);
  }
  if (!c.retryOnSameDevice) return;
  // Once the device has had its say, nothing of the failed session reaches the next one.
  device->setFaults({});
  ASSERT_TRUE(waitUntilQuiet(device->portPath()));
  const CliResult retry = runSession(direction);
  EXPECT_EQ(retry.status, 0) << retry.err;
  expectCompleteData(direction);
}

INSTANTIATE_TEST_SUITE_P(Stalls, Answers,
                         ::testing::Values(AnswerCase{"write", "silence@command:2", 1,
                                                      "Acknowledgment error : no data : 0"},
                                           AnswerCase{"read", "silence@command:0", 1,
                                                      "Acknowledgment error : no data : 0", 0},
                                           AnswerCase{"read", "silence@command:4", 1,
                                                      "Acknowledgment error : no data : 0", 4}),
                         caseName);

// An answer byte is due 120 ms after its read started, the identification 720 ms after; a
// data frame that a read waits for has no limit but its total until its first byte.
INSTANTIATE_TEST_SUITE_P(
    Late, Answers,
    ::testing::Values(
        AnswerCase{"write", "late@command:2=110", 0, ""},
        AnswerCase{"write", "late@command:2=130", 1, "Acknowledgment error : no data : 0"},
        AnswerCase{"read", "late@command:2=110", 0, ""},
        AnswerCase{"read", "late@command:2=130", 1, "Acknowledgment error : no data : 0", 2},
        AnswerCase{"write", "late@data:2=110", 0, ""},
        AnswerCase{"write", "late@data:2=130", 1, "Transmission error : no data : 0"},
        AnswerCase{"verify", "late@wakeup=650", 0, ""},
        AnswerCase{"verify", "late@wakeup=800", 1, "Initialization error : no data : 0"},
        AnswerCase{"read", "late@data:2=500", 0, ""}),
    caseName);

// Junk ahead of the identification pushes the reply along: the six bytes read are judged as
// they are. The device's reply is 02 05 01 0A EE 06 unless the versions say otherwise.
INSTANTIATE_TEST_SUITE_P(
    Garbage, Answers,
    ::testing::Values(
        AnswerCase{
            "read", "garbage@wakeup=1", 1, "Initialization error : illegal ACK : ee", 0, {}, true},
        AnswerCase{
            "write", "garbage@wakeup=3", 1, "Initialization error : illegal ACK :  1", 0, {}, true},
        AnswerCase{"verify",
                   "garbage@wakeup=6",
                   1,
                   "Initialization error : illegal ACK : a5",
                   0,
                   {},
                   true},
        // 5A A5 02 05 01 06: an ACK where it belongs, but 5A+A5+02+05+01 leaves 07.
        AnswerCase{"read", "garbage@wakeup=2", 1, "Initialization error : checksum : 7", 0,
                   versions(2, 5, 1, 6), true},
        // 5A A5 3C C3 5A 15: the first reply byte, 0x15, lands where the ACK belongs.
        AnswerCase{"write", "garbage@wakeup=5", 1, "Initialization error : got NAK", 0,
                   versions(0x15, 5, 1, 10), true}),
    caseName);

// An answer sent twice leaves its copy in the input queue, where the next read takes it.
INSTANTIATE_TEST_SUITE_P(
    Twice, Answers,
    ::testing::Values(
        // The identification's copy comes where the first command's ACK is due.
        AnswerCase{
            "read", "twice@wakeup", 1, "Acknowledgment error : illegal ACK :  2", 0, {}, true},
        // ACK ACK, then block 2: the frame read starts one byte early, 06+41 = 47.
        AnswerCase{"read", "twice@command:2", 1, "Transmission error : checksum : 47", 2, {}, true},
        AnswerCase{
            "verify", "twice@command:2", 1, "Transmission error : checksum : 47", 0, {}, true},
        // Block 2 twice: its first byte, 0x41, stands where block 3's command ACK is due.
        AnswerCase{
            "read", "twice@data:2", 1, "Acknowledgment error : illegal ACK : 41", 3, {}, true}),
    caseName);

// A write whose answers come twice stays one ACK ahead of the device to the end: every read
// takes one byte, and each is an ACK, so the session completes. The device still gets every
// frame it acknowledged whole, and never a wrong one.
TEST(AnswersTwice, AWriteCompletesAndTheDeviceHoldsNothingWrong) {
  for (const char* fault : {"twice@command:2", "twice@data:2"}) {
    SCOPED_TRACE(fault);
    ScratchDir dir;
    const auto source = randomBytes(5 * block + 10, 23);
    writeFile(dir / "fw.upg", source);
    sim::SimulatorOptions options;
    options.faults.push_back(*sim::parseFault(fault));
    sim::Simulator device(std::move(options));
    const auto erased = device.memory().snapshot();
    PosixSerialPort port;
    const CliResult result =
        runCliOver(port, device.portPath(), {"write", "program", dir / "fw.upg"});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_TRUE(waitUntilQuiet(device.portPath()));
    auto padded = source;
    padded.resize(6 * block, 0);
    const auto memory = device.memory().snapshot();
    EXPECT_EQ(slice(memory, 0, 5 * block), slice(padded, 0, 5 * block));
    // The last frame's own ACK was never waited for; the purge at the end may have taken
    // the frame from a pty before the device read it.
    const auto last = slice(memory, 5 * block, block);
    EXPECT_TRUE(last == slice(padded, 5 * block, block) || last == slice(erased, 5 * block, block));
    EXPECT_EQ(device.stats().framesRefused, 0u);
  }
}

// A data frame that never comes: the read gives up only after 120 ms for each of its 257
// bytes. The port runs on a clock moved by hand, so the test does not wait half a minute.
TEST(SilentDataFrame, EndsAfterTheFrameTotalAndKeepsTheBlocksBefore) {
  for (const Direction direction : {Direction::ReadFromDevice, Direction::Verify}) {
    SCOPED_TRACE(static_cast<int>(direction));
    ScratchDir dir;
    const auto memory = randomBytes(sim::MemoryImage::byteCount, 24);
    writeFile(dir / "same.upg", slice(memory, 0, programBlocks * block));
    sim::SimulatorOptions options;
    options.faults.push_back(*sim::parseFault("silence@data:3"));
    sim::Simulator device(std::move(options));
    device.memory().assign(memory);

    Clock::time_point now = Clock::now();
    EngineRig rig([&] { return now; });
    ASSERT_TRUE(rig.openPort(device.portPath()));
    const fs::path file = direction == Direction::Verify ? dir / "same.upg" : dir / "new.upg";
    ASSERT_EQ(rig.start(direction, DataKind::FirmwareUpgrade, file), sessionStarted);
    ASSERT_TRUE(rig.runUntil([&](StepResult r) {
      return r == StepResult::Waiting && rig.state.transferStep == 8 && rig.state.currentBlock == 3;
    }));
    // However long the real wait, the read stands until its own clock says 257 x 120 ms.
    for (int i = 0; i < 3; ++i) ASSERT_EQ(rig.step(), StepResult::Waiting);
    now += 30839ms;
    ASSERT_EQ(rig.step(), StepResult::Waiting);
    now += 1ms;
    ASSERT_EQ(rig.step(), StepResult::Advanced);
    EXPECT_EQ(rig.state.transferStep, 0);
    ASSERT_EQ(rig.op.shown().size(), 1u);
    EXPECT_EQ(rig.op.shown()[0], "Fail: Transmission error : no data : 0");
    rig.state.targetFile.close();
    if (direction == Direction::ReadFromDevice) {
      EXPECT_EQ(readFile(dir / "new.upg"), slice(memory, 0, 3 * block));
    }
  }
}

}  // namespace
}  // namespace morva::hardening
