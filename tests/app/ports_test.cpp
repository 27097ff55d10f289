#include <gtest/gtest.h>

#include "tests/app/program_fixture.h"

namespace morva::testing {
namespace {

using PortCommandsTest = ProgramTest;
using Ticks = std::vector<std::pair<int, bool>>;

TEST_F(PortCommandsTest, ChoosingTheTickedPortOpensItAgain) {
  startWithDevice();
  const int closes = port.closes;
  program->command(CMD_PORT_FIRST);
  EXPECT_EQ(port.closes, closes + 1);
  EXPECT_EQ(port.opened.back(), "/dev/ttyUSB0");
  EXPECT_EQ(desktop.op.ticks, (Ticks{{0, false}, {0, true}}));
  EXPECT_TRUE(program->menus().port.items[1].checked);
}

TEST_F(PortCommandsTest, AutoGivesUpTheOpenPortAndSearchesAgain) {
  startWithDevice();
  devicesOn = {"/dev/ttyUSB1"};
  program->command(CMD_PORT_AUTO);
  EXPECT_EQ(desktop.op.ticks, (Ticks{{0, false}, {1, true}}));
  EXPECT_TRUE(desktop.op.messages.empty());
  EXPECT_EQ(port.name(), "/dev/ttyUSB1");

  devicesOn.clear();
  forget();
  program->command(CMD_PORT_AUTO);
  EXPECT_EQ(desktop.op.ticks, (Ticks{{1, false}}));
  EXPECT_EQ(captions(), (std::vector<std::string>{"A problem :"}));
  EXPECT_FALSE(port.isOpen());
}

// A command that closes the port under a running session ends it as Stop would, quietly,
// instead of leaving the next step to find the port gone.
TEST_F(PortCommandsTest, CommandThatClosesThePortEndsTheRunningSessionQuietly) {
  struct Case {
    int command;
    bool portsFail;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {CMD_PORT_AUTO, false, {}},
      {CMD_PORT_FIRST + 1, false, {}},
      {CMD_WRITE, true, {"Warning", "A problem :"}},
      {CMD_REPEAT, true, {"Warning", "A problem :"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    startWithDevice();
    startWrite();
    const int purges = port.purges;
    if (c.portsFail) port.unopenable = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
    program->command(c.command);
    EXPECT_EQ(state().transferStep, TransferStep::Idle);
    EXPECT_EQ(state().outcome, SessionOutcome::Stopped);
    EXPECT_GT(port.purges, purges);
    EXPECT_EQ(captions(), c.boxes);
    // What was posted for the abandoned session finds nothing to do.
    EXPECT_EQ(program->runStep(TransferStep::AwaitWakeUpSent, false), StepResult::Ignored);
    EXPECT_EQ(captions(), c.boxes);
    port.unopenable.clear();
  }
}

TEST_F(PortCommandsTest, StepArrivingUnderAModalRunsNothingAndIsPostedAgainAfterIt) {
  startWithDevice();
  startWrite();
  ASSERT_EQ(program->stepToPost(false), TransferStep::AwaitWakeUpSent);
  const std::size_t operations = port.operations.size();
  EXPECT_EQ(program->runStep(TransferStep::AwaitWakeUpSent, true), StepResult::Ignored);
  EXPECT_EQ(port.operations.size(), operations);
  EXPECT_EQ(state().transferStep, TransferStep::AwaitWakeUpSent);
  EXPECT_EQ(program->stepToPost(true), std::nullopt);
  ASSERT_EQ(program->stepToPost(false), TransferStep::AwaitWakeUpSent);
  EXPECT_EQ(program->runStep(TransferStep::AwaitWakeUpSent, false), StepResult::Advanced);
  EXPECT_EQ(state().transferStep, TransferStep::AwaitIdentification);
}

TEST_F(PortCommandsTest, PendingWriteWaitsOnThePortInsteadOfPosting) {
  startWithDevice();
  writePendingPolls = 2;
  startWrite();
  ASSERT_EQ(program->stepToPost(false), TransferStep::AwaitWakeUpSent);
  EXPECT_EQ(program->runStep(TransferStep::AwaitWakeUpSent, false), StepResult::Waiting);
  EXPECT_TRUE(program->waitingOnPort());
  EXPECT_EQ(program->stepToPost(false), std::nullopt);
  program->portReady();
  ASSERT_EQ(program->stepToPost(false), TransferStep::AwaitWakeUpSent);
  EXPECT_EQ(program->runStep(TransferStep::AwaitWakeUpSent, false), StepResult::Waiting);
  // A command meanwhile ends the wait: the new session's first step is posted at once.
  writePendingPolls = 0;
  startWrite();
  EXPECT_FALSE(program->waitingOnPort());
  EXPECT_EQ(program->stepToPost(false), TransferStep::AwaitWakeUpSent);
}

// A page is granted another port while the program runs: the list is built again around the
// port in use, which keeps its tick, and Repeat keeps what the commands made of it.
TEST_F(PortCommandsTest, PortsGrantedLaterJoinTheListAndTheOpenPortKeepsItsTick) {
  startWithDevice();
  program->command(CMD_PORT_FIRST + 1);
  lister.names = {"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1"};
  program->portsChanged();
  EXPECT_EQ(program->link().portNameTable, lister.names);
  EXPECT_EQ(program->link().portIndex, 2);
  ASSERT_TRUE(desktop.installed.has_value());
  const Menu& ports = desktop.installed->port;
  ASSERT_EQ(ports.items.size(), 4u);
  EXPECT_EQ(ports.items[1].text, "/dev/ttyACM0");
  EXPECT_FALSE(ports.items[2].checked);
  EXPECT_TRUE(ports.items[3].checked);
  EXPECT_TRUE(desktop.installed->action.items[repeatPosition].grayed);
  EXPECT_TRUE(port.isOpen());
}

}  // namespace
}  // namespace morva::testing
