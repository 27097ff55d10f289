// A device that stalls, answers late, sends junk ahead of its identification or answers twice:
// each outcome follows from the read sizes and time-outs of the link, and leftovers never slip
// into a later frame unnoticed.
#include <gtest/gtest.h>

#include <memory>

#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/hardening/harness.h"
#include "tests/support/short_names.h"
#include "transfer/frames.h"
#include "transfer/wording.h"

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
  return asTestName(name);
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

  void expectCompleteData(const std::string& direction) {
    expectProgramComplete(direction, fileFor(direction), memory, source, *device);
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

// An answer sent twice leaves its copy where no answer is due: input nobody asked for. It is
// found before the next block command, before the data frame, or in the quiet wait after the
// session's last answer, and ends the session there; the device holds exactly the blocks it
// acknowledged once, the file exactly the blocks received. (With a NAK still to come, the
// write would otherwise read every answer one late and report the refused block written.)
struct TwiceCase {
  const char* direction;
  std::vector<const char*> faults;
  const char* message;     // "%" stands for the first byte of the block sent twice
  std::size_t blocksDone;  // written into the device, or read into the file
  std::uint16_t blockSentTwice = 0;
};

class AnswerSentTwice : public ::testing::TestWithParam<TwiceCase> {};

TEST_P(AnswerSentTwice, EndsTheSessionWhereItIsFound) {
  const TwiceCase& c = GetParam();
  ScratchDir dir;
  const auto memory = randomBytes(sim::MemoryImage::byteCount, 26);
  const auto source = randomBytes(programBlocks * block, 27);
  const std::string direction = c.direction;
  const std::string file = direction == "write" ? writeFile(dir / "fw.upg", source)
                           : direction == "verify"
                               ? writeFile(dir / "fw.upg", slice(memory, 0, programBlocks * block))
                               : (dir / "fw.upg").string();
  const auto fileBefore = readFile(file);
  sim::SimulatorOptions options;
  for (const char* fault : c.faults) options.faults.push_back(*sim::parseFault(fault));
  sim::Simulator device(std::move(options));
  device.memory().assign(memory);
  PosixSerialPort port;
  const CliResult result = runCliOver(port, device.portPath(), {direction, "program", file});
  EXPECT_EQ(result.status, 1) << result.err;
  std::string message = c.message;
  if (const auto at = message.find('%'); at != std::string::npos) {
    const Failure stray{.kind = FailureKind::Transmission,
                        .answer = AnswerFault::IllegalByte,
                        .byte = memory[c.blockSentTwice * block]};
    const std::string text = failureMessage(stray).text;  // "Transmission error : illegal ..."
    message.replace(at, 1, text.substr(text.find(" : ") + 3));
  }
  EXPECT_TRUE(result.said("Fail", message)) << "expected \"" << message << "\" in:\n" << result.err;
  const auto done = c.blocksDone * block;
  if (direction == "write") {
    ASSERT_TRUE(waitUntilQuiet(device.portPath()));
    auto expected = slice(memory, 0, programBlocks * block);
    std::copy_n(source.begin(), done, expected.begin());
    EXPECT_EQ(slice(device.memory().snapshot(), 0, programBlocks * block), expected);
  } else {
    EXPECT_EQ(readFile(file), direction == "read" ? slice(memory, 0, done) : fileBefore);
  }
}

std::string twiceName(const ::testing::TestParamInfo<TwiceCase>& info) {
  std::string name = info.param.direction;
  for (const char* fault : info.param.faults) name += std::string("_") + fault;
  return asTestName(name);
}

const char* const ackTwice = "Acknowledgment error : illegal ACK :  6";
const char* const sendTwice = "Transmission error : illegal ACK :  6";

INSTANTIATE_TEST_SUITE_P(
    Hardening, AnswerSentTwice,
    ::testing::Values(TwiceCase{"write", {"twice@command:0"}, sendTwice, 0},
                      TwiceCase{"write", {"twice@data:0"}, ackTwice, 1},
                      TwiceCase{"write", {"twice@data:5", "nak@data:511"}, ackTwice, 6},
                      TwiceCase{"write", {"twice@data:511"}, sendTwice, 512},
                      TwiceCase{"read", {"twice@data:0"}, "Acknowledgment error : %", 1, 0},
                      TwiceCase{"read", {"twice@data:5"}, "Acknowledgment error : %", 6, 5},
                      TwiceCase{"read", {"twice@data:511"}, "Transmission error : %", 512, 511},
                      TwiceCase{"verify", {"twice@data:0"}, "Acknowledgment error : %", 0, 0},
                      TwiceCase{"verify", {"twice@data:511"}, "Transmission error : %", 0, 511}),
    twiceName);

// An answer is taken when it arrived within its read's time-out, however late the program
// looks: 120 ms for an answer byte, 720 ms for the identification, 100 ms between two bytes of
// a frame, 257 x 120 ms for a data frame that never starts. The device holds its answer back
// and the port runs on a clock the test moves, so each case sits exactly at its limit.
struct LateCase {
  const char* name;
  Direction direction;
  const char* fault;  // holds the late answer (or its second part) until released
  TransferStep step;  // the step waiting for it, at block `lateBlock`
  std::chrono::milliseconds late;
  const char* failure;  // empty: the answer is taken and the session completes
  std::size_t readBlocks = 0;
};

constexpr std::uint16_t lateBlock = 2;

class LateAnswers : public ::testing::TestWithParam<LateCase> {};

TEST_P(LateAnswers, AreTakenUpToTheirTimeOutAndNotAfter) {
  const LateCase& c = GetParam();
  ScratchDir dir;
  const auto memory = randomBytes(sim::MemoryImage::byteCount, 24);
  const auto source = randomBytes(4 * block, 25);
  sim::SimulatorOptions options;
  options.faults.push_back(*sim::parseFault(c.fault));
  sim::Simulator device(std::move(options));
  device.memory().assign(memory);

  TestClock clock;
  PosixRig rig(clock);
  ASSERT_TRUE(rig.openPort(device.portPath()));
  const std::string file =
      c.direction == Direction::WriteToDevice ? writeFile(dir / "fw.upg", source)
      : c.direction == Direction::Verify
          ? writeFile(dir / "same.upg", slice(memory, 0, programBlocks * block))
          : (dir / "new.upg").string();
  ASSERT_EQ(rig.start(c.direction, DataKind::FirmwareUpgrade, file), StartResult::Started);
  clock.freeze();
  const std::uint16_t atBlock = c.step == TransferStep::AwaitIdentification ? 0 : lateBlock;
  ASSERT_TRUE(rig.runUntil([&](StepResult) {
    return rig.state.transferStep == c.step && rig.state.currentBlock == atBlock;
  }));
  ASSERT_TRUE(device.awaitHold());
  // What came before the hold is in; the read's own clock then moves on by `late`.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(rig.stepOnce(), StepResult::Waiting);
  clock.advance(c.late);
  if (*c.failure) {
    ASSERT_EQ(rig.stepOnce(), StepResult::Advanced) << "the read did not time out";
  }
  device.release();
  clock.thaw();  // the quiet wait after the last answer runs on the clock again
  ASSERT_TRUE(rig.runToEnd());

  if (!*c.failure) {
    EXPECT_EQ(rig.state.outcome, SessionOutcome::Completed)
        << ::testing::PrintToString(rig.op.shown());
    return;
  }
  EXPECT_EQ(rig.op.shown(), std::vector<std::string>{std::string("Fail: ") + c.failure});
  if (c.direction == Direction::ReadFromDevice) {
    rig.state.targetFile.close();
    EXPECT_EQ(readFile(dir / "new.upg"), slice(memory, 0, c.readBlocks * block));
  }
}

std::string lateName(const ::testing::TestParamInfo<LateCase>& info) {
  return info.param.name;
}

using std::chrono::milliseconds;
using namespace testing::short_names;

INSTANTIATE_TEST_SUITE_P(
    Hardening, LateAnswers,
    ::testing::Values(
        LateCase{"command_answer_119", W, "hold@command:2/once", TransferStep::AwaitCommandAnswer,
                 milliseconds(119), ""},
        LateCase{"command_answer_120", W, "hold@command:2/once", TransferStep::AwaitCommandAnswer,
                 milliseconds(120), "Acknowledgment error : no data : 0"},
        LateCase{"read_command_answer_120", R, "hold@command:2/once",
                 TransferStep::AwaitCommandAnswer, milliseconds(120),
                 "Acknowledgment error : no data : 0", 2},
        LateCase{"data_answer_119", W, "hold@data:2/once", TransferStep::AwaitDataAnswer,
                 milliseconds(119), ""},
        LateCase{"data_answer_120", W, "hold@data:2/once", TransferStep::AwaitDataAnswer,
                 milliseconds(120), "Transmission error : no data : 0"},
        LateCase{"identification_719", V, "hold@wakeup/once", TransferStep::AwaitIdentification,
                 milliseconds(719), ""},
        LateCase{"identification_720", V, "hold@wakeup/once", TransferStep::AwaitIdentification,
                 milliseconds(720), "Initialization error : no data : 0"},
        LateCase{"gap_in_frame_99", R, "hold@data:2=128/once", TransferStep::AwaitDataFrame,
                 milliseconds(99), ""},
        LateCase{"gap_in_frame_100", R, "hold@data:2=128/once", TransferStep::AwaitDataFrame,
                 milliseconds(100), "Transmission error : no data : 128", 2},
        LateCase{"frame_30839", V, "hold@data:2/once", TransferStep::AwaitDataFrame,
                 milliseconds(30839), ""},
        LateCase{"frame_30840", R, "hold@data:2/once", TransferStep::AwaitDataFrame,
                 milliseconds(30840), "Transmission error : no data : 0", 2}),
    lateName);

}  // namespace
}  // namespace morva::hardening
