// Whole sessions of morva-cli over the real POSIX serial port against the simulated controller
// on a pseudo-terminal: the bytes that reach the device or the file, and every failure text.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "frontends/cli/cli_app.h"
#include "platform/posix/file_service.h"
#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/support/cli_run.h"
#include "tests/support/files.h"

namespace morva {
namespace {

namespace fs = std::filesystem;

using testing::randomBytes;
using testing::readFile;
using testing::runCliOver;
using testing::slice;
using testing::writeFile;

sim::SimulatorOptions withFault(const char* text) {
  sim::SimulatorOptions options;
  options.faults.push_back(*sim::parseFault(text));
  return options;
}

class CliSession : public ::testing::Test {
 protected:
  sim::Simulator& device(sim::SimulatorOptions options = {}) {
    sim = std::make_unique<sim::Simulator>(std::move(options));
    return *sim;
  }

  // Runs "morva-cli ARGS --port <simulator>" in-process; returns the exit status.
  int run(std::vector<std::string> args, bool yes = false) {
    PosixSerialPort port;
    const testing::CliResult result = runCliOver(port, sim->portPath(), std::move(args), yes);
    out.str(result.out);
    err.str(result.err);
    return result.status;
  }

  std::vector<std::uint8_t> deviceBytes(std::size_t firstBlock, std::size_t blocks) {
    auto all = sim->memory().snapshot();
    return {all.begin() + static_cast<long>(firstBlock * 256),
            all.begin() + static_cast<long>((firstBlock + blocks) * 256)};
  }

  testing::ScratchDir dir;
  std::unique_ptr<sim::Simulator> sim;
  std::ostringstream out, err;
};

TEST_F(CliSession, ProgramWriteLeavesTheImageInTheDevice) {
  device();
  auto image = randomBytes(131072, 1);
  writeFile(dir / "fw.upg", image);
  ASSERT_EQ(run({"write", "program", (dir / "fw.upg").string()}), 0) << err.str();
  EXPECT_EQ(deviceBytes(0, 512), image);
  EXPECT_EQ(sim->stats().blocksWritten, 512u);
}

TEST_F(CliSession, UserDataReadCopiesTheWholeRange) {
  device();
  auto memory = randomBytes(1 << 20, 2);
  sim->memory().assign(memory);
  ASSERT_EQ(run({"read", "user", (dir / "user.usr").string()}), 0) << err.str();
  auto file = readFile(dir / "user.usr");
  ASSERT_EQ(file.size(), 819200u);
  EXPECT_EQ(file, deviceBytes(896, 3200));
}

TEST_F(CliSession, VerifyPassesOnEqualAndStopsAtTheFirstDifference) {
  device();
  auto libs = randomBytes(98304, 3);
  sim->memory().assign(std::vector<std::uint8_t>(512 * 256, 0));
  writeFile(dir / "a.lib", libs);
  ASSERT_EQ(run({"write", "libraries", (dir / "a.lib").string()}), 0) << err.str();
  EXPECT_EQ(run({"verify", "libraries", (dir / "a.lib").string()}), 0) << err.str();

  libs[300 * 256 + 7] ^= 0xFF;
  writeFile(dir / "a.lib", libs);
  EXPECT_EQ(run({"verify", "libraries", (dir / "a.lib").string()}), 1);
  std::ostringstream expected;
  expected << "Warning: Veryfication error : block 813 pos. 7\n"
           << int(libs[300 * 256 + 7]) << ", " << int(libs[300 * 256 + 7] ^ 0xFF) << "\nContinue ?";
  EXPECT_NE(err.str().find(expected.str()), std::string::npos) << err.str();
}

struct FailureCase {
  const char* fault;
  const char* direction;
  const char* expected;
};

class CliFailure : public CliSession, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliFailure, EndsWithTheDevicesMessage) {
  const FailureCase& c = GetParam();
  sim::SimulatorOptions options;
  auto fault = sim::parseFault(c.fault);
  ASSERT_TRUE(fault) << c.fault;
  options.faults.push_back(*fault);
  device(options);
  auto path = (dir / "fw.upg").string();
  writeFile(path, randomBytes(131072, 4));
  EXPECT_EQ(run({c.direction, "program", path}, true), 1) << err.str();
  EXPECT_NE(err.str().find(std::string("Fail: ") + c.expected + "\n"), std::string::npos)
      << "expected \"" << c.expected << "\" in:\n"
      << err.str();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CliFailure,
    ::testing::Values(
        FailureCase{"silence@wakeup", "write", "Initialization error : no data : 0"},
        FailureCase{"nak@wakeup", "read", "Initialization error : got NAK"},
        FailureCase{"illegal@wakeup=0xa0", "verify", "Initialization error : illegal ACK : a0"},
        FailureCase{"short@wakeup=4", "write", "Initialization error : no data : 4"},
        FailureCase{"corrupt@wakeup=1", "write", "Initialization error : checksum : 1"},
        FailureCase{"nak@command:5", "write", "Acknowledgment error : got NAK"},
        FailureCase{"illegal@command:0=0x41", "read", "Acknowledgment error : illegal ACK : 41"},
        FailureCase{"silence@command:2", "verify", "Acknowledgment error : no data : 0"},
        FailureCase{"nak@data:1", "write", "Transmission error : got NAK"},
        FailureCase{"illegal@data:1=0x41", "write", "Transmission error : illegal ACK : 41"},
        FailureCase{"silence@data:3", "write", "Transmission error : no data : 0"},
        FailureCase{"short@data:3=200", "read", "Transmission error : no data : 200"},
        FailureCase{"corrupt@data:3=16", "read", "Transmission error : checksum : 10"},
        FailureCase{"vanish@data:7=10", "read", "Error code : 5"},
        FailureCase{"vanish@command:7", "write", "Error code : 5"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
      return testing::asTestName(std::string(info.param.direction) + "_" + info.param.fault);
    });

// What the tool says at the end of a session: what a failed one left behind, what a
// verification found, that a long source was cut to its range; and the closing line, which
// -q keeps.
TEST_F(CliSession, TheClosingLinesSayWhatHappened) {
  const std::string fw = writeFile(dir / "fw.upg", randomBytes(131072, 8));
  const std::string big = writeFile(dir / "big.upg", randomBytes(140000, 9));
  struct Case {
    std::vector<std::string> args;
    const char* fault;
    int status;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{"write", "program", fw},
       "nak@data:7",
       1,
       {"Fail: Transmission error : got NAK",
        "The device holds blocks 0-6 of " + fw + " (7 of 512)."}},
      {{"read", "program", (dir / "r.upg").string()},
       "nak@command:5",
       1,
       {(dir / "r.upg").string() + " holds 5 whole blocks."}},
      {{"write", "program", big, "-q"},
       "",
       0,
       {big + " is 140000 bytes: only its first 131072 bytes (program, 512 blocks) are sent.",
        "Done: Write to Vk350 : program complete."}},
      {{"write", "program", fw, "--verify", "-q"},
       "",
       0,
       {"Done: Write to Vk350 : program complete.", "Done: Veryfication : program complete."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.fault);
    device(*c.fault ? withFault(c.fault) : sim::SimulatorOptions{});
    EXPECT_EQ(run(c.args, true), c.status) << err.str();
    for (const std::string& line : c.lines)
      EXPECT_NE(err.str().find(line + "\n"), std::string::npos) << line << " in:\n" << err.str();
  }
}

// With --yes a wrong file lists its first ten differences, then one summary: how many bytes
// in how many blocks, from which offset to which.
TEST_F(CliSession, AVerificationWithYesSumsUpItsDifferences) {
  device();
  auto image = randomBytes(98304, 10);
  writeFile(dir / "l.lib", image);
  ASSERT_EQ(run({"write", "libraries", (dir / "l.lib").string(), "-q"}), 0) << err.str();
  for (std::size_t i = 0; i < 30; ++i) image[3 * 256 + i] ^= 0xFF;  // 30 bytes in block 3
  image[40 * 256 + 255] ^= 0x01;                                    // one in block 40
  writeFile(dir / "l.lib", image);
  EXPECT_EQ(run({"verify", "libraries", (dir / "l.lib").string(), "-q"}, true), 1);
  const std::string said = err.str();
  std::size_t asked = 0;
  for (std::size_t at = said.find("Warning: Veryfication error"); at != std::string::npos;
       at = said.find("Warning: Veryfication error", at + 1))
    ++asked;
  EXPECT_EQ(asked, 10u) << said;
  EXPECT_NE(said.find("Veryfication found 31 differing bytes in 2 blocks, from offset 768 to "
                      "offset 10495.\n"),
            std::string::npos)
      << said;
}

// --backup reads the range into its file first and writes only once that read completed.
TEST_F(CliSession, ABackupComesFirstAndAFailedOneWritesNothing) {
  device();
  const auto before = randomBytes(1 << 20, 11);
  sim->memory().assign(before);
  const auto image = randomBytes(131072, 12);
  const std::string fw = writeFile(dir / "fw.upg", image);
  const std::string old = (dir / "old.upg").string();
  ASSERT_EQ(run({"write", "program", fw, "--backup", old, "-q"}), 0) << err.str();
  EXPECT_EQ(readFile(old), slice(before, 0, 131072));
  EXPECT_EQ(deviceBytes(0, 512), image);

  // The backup file exists now: without --yes it is not overwritten, and nothing is written.
  sim->memory().assign(before);
  EXPECT_EQ(run({"write", "program", fw, "--backup", old, "-q"}), 4) << err.str();
  EXPECT_NE(err.str().find("Nothing was written: the backup into " + old + " did not complete."),
            std::string::npos)
      << err.str();
  EXPECT_EQ(deviceBytes(0, 512), slice(before, 0, 131072));
}

TEST_F(CliSession, AReadKeepsWhatArrivedBeforeTheDeviceVanished) {
  sim::SimulatorOptions options;
  options.faults.push_back(*sim::parseFault("vanish@command:40"));
  device(options);
  auto memory = randomBytes(1 << 20, 5);
  sim->memory().assign(memory);
  EXPECT_EQ(run({"read", "program", (dir / "p.upg").string()}), 1);
  auto file = readFile(dir / "p.upg");
  ASSERT_EQ(file.size(), 40u * 256);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), memory.begin()));
}

TEST_F(CliSession, DetectPassesOverAPortThatDoesNotAnswer) {
  // A pty with nobody behind it answers nothing: the search gives it up and goes on.
  sim::Simulator silent(withFault("silence@wakeup"));
  device();
  EXPECT_EQ(run({"detect", "--port", silent.portPath()}), 0) << err.str();
  EXPECT_NE(out.str().find("Vk350 found on " + sim->portPath()), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Firmware version : 2.05 | 1.10"), std::string::npos);
}

TEST_F(CliSession, ExistingReadTargetSurvivesADeviceThatNeverAnswers) {
  device(withFault("silence@wakeup"));
  auto old = randomBytes(1000, 6);
  writeFile(dir / "keep.upg", old);
  EXPECT_EQ(run({"read", "program", (dir / "keep.upg").string()}, true), 1);
  EXPECT_EQ(readFile(dir / "keep.upg"), old);
}

}  // namespace
}  // namespace morva

namespace morva {
namespace {

// Ctrl-C arrives while the tool searches or asks: the signal only sets a flag, which must
// still end the run as a stop (exit 130), not as a device not found or a declined question.
struct StoppedConsole : testing::QuietConsole {
  bool inputIsTerminal() const override { return true; }
  bool stopRequested() const override { return true; }
};

TEST_F(CliSession, CtrlCOutsideTheStepsIsAStop) {
  device();
  writeFile(dir / "old.upg", randomBytes(512, 7));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"detect"}, {"read", "program", (dir / "old.upg").string()}}) {
    PosixSerialPort port;
    StoppedConsole console;
    const testing::CliResult result = runCliOver(port, sim->portPath(), args, false, &console);
    EXPECT_EQ(result.status, cli::exitStopped) << result.err;
    EXPECT_NE(result.err.find("Stopped.\n"), std::string::npos) << result.err;
  }
  EXPECT_EQ(readFile(dir / "old.upg").size(), 512u);
}

}  // namespace
}  // namespace morva
