#include <gtest/gtest.h>

#include "app/commands.h"
#include "tests/app/program_fixture.h"

namespace morva::testing {
namespace {

using StartupTest = ProgramTest;

TEST_F(StartupTest, PortsGivenOnTheCommandLineAreListedBesideTheMachinesPorts) {
  options.extraPorts = {"/dev/pts/7"};
  devicesOn = {"/dev/pts/7"};
  EXPECT_EQ(start({"/dev/ttyUSB0"}), 0);
  EXPECT_EQ(program->link().portNameTable,
            (std::vector<std::string>{"/dev/pts/7", "/dev/ttyUSB0"}));
  EXPECT_EQ(port.name(), "/dev/pts/7");
}

TEST_F(StartupTest, ThePortMenuNamesTheSimulatedDevice) {
  options.extraPorts = {"/dev/pts/7", "/dev/pts/9"};
  options.simulatedPort = "/dev/pts/9";
  EXPECT_EQ(start({"/dev/ttyUSB0"}), 0);
  std::vector<std::string> texts;
  for (const MenuItem& item : program->menus().port.items) texts.push_back(item.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"&Auto", "/dev/pts/7", "Simulated Vk350 (/dev/pts/9)",
                                             "/dev/ttyUSB0"}));
  // The port itself keeps its path.
  EXPECT_EQ(program->link().portNameTable[1], "/dev/pts/9");
}

TEST_F(StartupTest, StartsWithTheDefaultsOfANewRun) {
  EXPECT_EQ(start({"/dev/ttyUSB0"}), 0);
  EXPECT_EQ(state().firmwareVersionText, "N/A");
  EXPECT_EQ(state().secondVersionText, "N/A");
  EXPECT_EQ(state().transferStep, TransferStep::Idle);
  EXPECT_EQ(program->displayFont().face, "Fixedsys");
  EXPECT_TRUE(program->displayFont().fixedPitch);
  ASSERT_TRUE(desktop.installed);
  EXPECT_TRUE(desktop.installed->action.items[repeatPosition].grayed);
  EXPECT_EQ(desktop.installed->port.items.at(1).text, "/dev/ttyUSB0");
  EXPECT_EQ(program->stepToPost(false), std::nullopt);
}

TEST_F(StartupTest, ShutdownPurgesAndClosesAnOpenPort) {
  devicesOn = {"/dev/ttyUSB0"};
  ASSERT_EQ(start({"/dev/ttyUSB0"}), 0);
  const int purges = port.purges;
  program->shutdown();
  EXPECT_EQ(port.purges, purges + 1);
  EXPECT_FALSE(port.isOpen());
  program->shutdown();  // nothing open: nothing to do
  EXPECT_EQ(port.purges, purges + 1);
}

}  // namespace
}  // namespace morva::testing
