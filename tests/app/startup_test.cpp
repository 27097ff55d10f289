#include <gtest/gtest.h>

#include "app/commands.h"
#include "tests/app/program_fixture.h"

namespace morva::testing {
namespace {

using StartupTest = ProgramTest;

TEST_F(StartupTest, NoPortListedEndsWithOneUnownedBoxAndNoWindow) {
  EXPECT_EQ(start({}), exitNoPort);
  EXPECT_EQ(desktop.events, (std::vector<std::string>{"box What a pity !"}));
  ASSERT_EQ(desktop.op.messages.size(), 1u);
  const Message& box = desktop.op.messages[0];
  EXPECT_EQ(box.text, "No serial port available !");
  EXPECT_EQ(box.icon, Icon::Warning);
  EXPECT_FALSE(box.owned);
  EXPECT_TRUE(port.opened.empty());
}

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

TEST_F(StartupTest, WindowIsShownBeforeTheSearchAndTheNotFoundBoxComesOverIt) {
  EXPECT_EQ(start({"/dev/ttyUSB0", "/dev/ttyUSB1"}), 0);
  EXPECT_EQ(desktop.events,
            (std::vector<std::string>{"installMenus", "showWindow", "box A problem :"}));
  // Both ports were probed, after the window was shown.
  EXPECT_EQ(port.opened, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  const Message& box = desktop.op.messages.at(0);
  EXPECT_EQ(box.text, "Vk350 not found !\nConnect and prepare device\nand try again.");
  EXPECT_EQ(box.icon, Icon::Warning);
  EXPECT_TRUE(box.owned);
  EXPECT_FALSE(port.isOpen());
}

TEST_F(StartupTest, DeviceFoundLeavesItsPortOpenAndTicked) {
  devicesOn = {"/dev/ttyUSB1"};
  EXPECT_EQ(start({"/dev/ttyUSB1", "/dev/ttyUSB0"}), 0);
  EXPECT_TRUE(desktop.op.messages.empty());
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.name(), "/dev/ttyUSB1");
  EXPECT_EQ(program->link().portIndex, 1);
  EXPECT_EQ(desktop.op.ticks, (std::vector<std::pair<int, bool>>{{1, true}}));
  EXPECT_TRUE(program->menus().port.items[2].checked);
  EXPECT_FALSE(program->menus().port.items[1].checked);
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
