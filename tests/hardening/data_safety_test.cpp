// No transfer reported complete that wasn't, no file emptied that we never wrote: morva-cli
// against the simulated controller while another program changes the data file, the device
// answers more than it was asked, or the file is not one at all.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "sim/simulator.h"
#include "tests/hardening/harness.h"

namespace morva::hardening {
namespace {

constexpr std::size_t block = 256;

std::unique_ptr<sim::Simulator> deviceWith(std::vector<std::string> faults) {
  sim::SimulatorOptions options;
  for (const auto& fault : faults) options.faults.push_back(*sim::parseFault(fault));
  return std::make_unique<sim::Simulator>(std::move(options));
}

// Another program renames a new file over a read's target while the device holds its
// identification (before the old content is emptied) or a block (before the file is closed).
TEST(DataSafety, ATargetReplacedDuringAReadIsLeftAsItIsAndTheReadFails) {
  for (const char* hold : {"hold@wakeup/once", "hold@data:3/once"}) {
    SCOPED_TRACE(hold);
    ScratchDir dir;
    const auto old = randomBytes(1000, 1), replacement = randomBytes(700, 2);
    const std::string target = writeFile(dir / "x.upg", old);
    const auto device = deviceWith({hold});
    PatientPort port;
    CliResult result;
    ASSERT_TRUE(whileHeld(
        *device,
        [&] {
          result = runCliOver(port, device->portPath(), {"read", "program", target}, true);
        },
        [&] { fs::rename(writeFile(dir / "new.upg", replacement), target); }));
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(result.said("Fail", "File write error !")) << result.err;
    EXPECT_EQ(readFile(target), replacement);
  }
}

// Another program empties or overwrites the read's target in place while the device holds
// block 100: the blocks written after it land at their offsets past a hole of zeros, and the
// file is no longer what the device sent. The read fails saying so, instead of completing.
TEST(DataSafety, ATargetChangedInPlaceDuringAReadFailsTheRead) {
  struct Row {
    const char* what;
    std::function<void(const fs::path&)> change;
  };
  const Row rows[] = {{"emptied", [](const fs::path& p) { fs::resize_file(p, 0); }},
                      {"written into", [](const fs::path& p) {
                         std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
                         f.seekp(10);
                         f.put('x');
                       }}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    const fs::path target = dir / "x.upg";
    const auto device = deviceWith({"hold@data:100/once"});
    PatientPort port;
    CliResult result;
    ASSERT_TRUE(whileHeld(
        *device,
        [&] {
          result = runCliOver(port, device->portPath(), {"read", "program", target});
        },
        [&] { row.change(target); }));
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(result.said("Fail", "File write error !")) << result.err;
    EXPECT_NE(result.err.find(target.string() + ": another program cut it short or wrote into it"),
              std::string::npos)
        << result.err;
  }
}

// Another program cuts the source short while the device holds its answer to block 900: the
// device keeps the blocks the file had, and the write fails rather than sending a zero block
// as the file's last.
TEST(DataSafety, ASourceThatShrinksUnderAWriteFailsIt) {
  ScratchDir dir;
  constexpr std::size_t first = 896, blocks = 3200, sent = 5;
  const auto source = randomBytes(blocks * block, 3);
  const std::string file = writeFile(dir / "s.usr", source);
  const auto device = deviceWith({"hold@data:900/once"});
  auto expected = device->memory().snapshot();
  std::copy_n(source.begin(), sent * block, expected.begin() + first * block);
  PatientPort port;
  CliResult result;
  ASSERT_TRUE(whileHeld(
      *device,
      [&] {
        result = runCliOver(port, device->portPath(), {"write", "user", file});
      },
      [&] { fs::resize_file(file, sent * block); }));
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_TRUE(result.said("Fail", "File read error !")) << result.err;
  ASSERT_TRUE(waitUntilQuiet(device->portPath()));
  EXPECT_EQ(device->memory().snapshot(), expected);
}

// Two sessions on one file over two ports: the second starts while the first one's device
// holds block 4. Sources share the file; a target has it alone.
TEST(DataSafety, TwoSessionsNeverReadAndWriteOneFileAtOnce) {
  struct Row {
    const char* first;
    const char* second;
    bool refused;
  };
  const Row rows[] = {{"write", "read", true},
                      {"read", "write", true},
                      {"read", "verify", true},
                      {"write", "verify", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.first) + " then " + row.second);
    ScratchDir dir;
    const auto content = randomBytes(512 * block, 4);
    const std::string file = writeFile(dir / "x.upg", content);
    const auto held = deviceWith({"hold@data:4/once"}), other = deviceWith({});
    held->memory().assign(content);
    other->memory().assign(content);
    const auto otherBefore = other->memory().snapshot();
    PatientPort heldPort, otherPort;
    CliResult firstResult, secondResult;
    ASSERT_TRUE(whileHeld(
        *held,
        [&] {
          firstResult = runCliOver(heldPort, held->portPath(), {row.first, "program", file}, true);
        },
        [&] {
          secondResult =
              runCliOver(otherPort, other->portPath(), {row.second, "program", file}, true);
        }));
    EXPECT_EQ(firstResult.status, 0) << firstResult.err;
    if (!row.refused) {
      EXPECT_EQ(secondResult.status, 0) << secondResult.err;
      continue;
    }
    EXPECT_EQ(secondResult.status, 4) << secondResult.err;
    EXPECT_TRUE(secondResult.said("Fail", "File open error !")) << secondResult.err;
    EXPECT_NE(secondResult.err.find(file + ": "), std::string::npos) << secondResult.err;
    EXPECT_NE(secondResult.err.find("Another transfer is using the file"), std::string::npos);
    EXPECT_EQ(other->memory().snapshot(), otherBefore);
    EXPECT_EQ(readFile(file), content);
  }
}

}  // namespace
}  // namespace morva::hardening
