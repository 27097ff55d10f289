// No transfer reported complete that wasn't, no file emptied that we never wrote: morva-cli
// against the simulated controller while another program changes the data file, the device
// answers more than it was asked, or the file is not one at all.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace morva::hardening
