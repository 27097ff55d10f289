// What the main window sees of a session run through the program's step loop: its lines after
// it ends, however it ends, and the boxes it must show while a menu is open.
#include <gtest/gtest.h>

#include "tests/app/program_fixture.h"
#include "tests/support/engine_rig.h"

namespace morva::testing {
namespace {

class SessionWindowTest : public ProgramTest {
 protected:
  // The device: identifies itself, acknowledges every command and frame, sends `stored` as the
  // data of every block asked for, and refuses the command of block `nakAt`.
  Bytes stored = pattern(blockSize);
  int nakAt = -1;
  int commands = 0;

  void SetUp() override {
    ProgramTest::SetUp();
    port.device = [this](const Operation& op) {
      if (!op.isRead) {
        if (op.size == blockCommandSize) ++commands;
        return Reply::written();
      }
      if (op.size == identificationSize) return Reply::bytes(deviceIdentification);
      if (op.size == dataFrameSize) return Reply::bytes(frameOf(stored));
      return Reply::bytes({commands - 1 == nakAt ? NAK : ACK});
    };
    devicesOn = {"/dev/ttyUSB0"};
    ASSERT_EQ(start({"/dev/ttyUSB0"}), 0);
    forget();
  }

  // Runs the loop's steps until the session has ended or `limit` steps ran.
  void runSession(int limit = 100000) {
    while (limit-- > 0) {
      const auto step = program->stepToPost(false);
      if (!step) {
        if (!program->waitingOnPort()) return;
        program->portReady();
        continue;
      }
      program->runStep(*step, false);
    }
  }
};

TEST_F(SessionWindowTest, EveryEndOfASessionRepaintsTheBandOfItsLines) {
  struct Case {
    const char* name;
    int command;
    Bytes file;
    int nakAt = -1;
    std::deque<Answer> answers = {};
    bool stopHalfWay = false;
    SessionOutcome outcome = SessionOutcome::Completed;
  };
  // A verification compares the whole range: the device holds `stored` in each of its blocks.
  Bytes whole;
  for (int block = 0; block < 512; ++block) whole.insert(whole.end(), stored.begin(), stored.end());
  Bytes differing = stored;
  differing[3] ^= 1;
  const Case cases[] = {
      {"a write of two blocks", CMD_WRITE, pattern(2 * blockSize)},
      {"a whole verification", CMD_VERIFY, whole},
      {"a refused command",
       CMD_WRITE,
       pattern(3 * blockSize),
       1,
       {},
       false,
       SessionOutcome::Failed},
      {"a difference, not gone past",
       CMD_VERIFY,
       differing,
       -1,
       {Answer::No},
       false,
       SessionOutcome::Declined},
      {"a stop", CMD_WRITE, pattern(3 * blockSize), -1, {}, true, SessionOutcome::Stopped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desktop.op.fileChoices.push_back(FileChoice{writeFile(dir.path() / "image.upg", c.file)});
    nakAt = c.nakAt;
    commands = 0;
    desktop.op.answers = c.answers;
    program->menuSelect(MenuId::Action, firstKindPosition);
    program->command(c.command);
    ASSERT_TRUE(sessionRunning(state().transferStep));
    // Each repaint of the band, and whether a session ran when it was asked for.
    std::vector<bool> bandRepaints;
    desktop.onInvalidate = [&](Area area) {
      if (area != Area::StatusLine) bandRepaints.push_back(sessionRunning(state().transferStep));
    };
    if (c.stopHalfWay) {
      runSession(20);
      ASSERT_TRUE(sessionRunning(state().transferStep));
      program->command(CMD_STOP);
    }
    runSession();
    desktop.onInvalidate = nullptr;
    EXPECT_EQ(state().outcome, c.outcome) << ::testing::PrintToString(desktop.op.shown());
    ASSERT_FALSE(bandRepaints.empty());
    EXPECT_FALSE(bandRepaints.back()) << "the last repaint of the band came before the end";
  }
}

// What an open menu owes the operator: a box still owed when a command comes is shown before
// the command acts, and a verification holds before a comparison that could ask whether to go
// on, until the menu has closed.
TEST_F(SessionWindowTest, UnderAMenuOwedBoxesComeBeforeTheNextCommandAndComparisonsWait) {
  offerFile("image.upg", 3 * blockSize);
  nakAt = 0;
  program->menuSelect(MenuId::Action, firstKindPosition);
  program->command(CMD_WRITE);
  forget();
  program->menuShown(true);
  runSession();
  program->menuShown(false);
  program->command(CMD_READ);
  EXPECT_EQ(desktop.events,
            (std::vector<std::string>{"box Fail", "chooseFile"}));  // the read's chooser after

  // A verification with a difference holds before the comparison until the menu has closed.
  forget();
  nakAt = -1;
  Bytes differing = stored;
  differing[0] ^= 1;
  desktop.op.fileChoices.push_back(FileChoice{writeFile(dir.path() / "diff.upg", differing)});
  desktop.op.answers = {Answer::No};
  program->command(CMD_VERIFY);
  while (state().transferStep != TransferStep::AwaitDataFrame &&
         sessionRunning(state().transferStep))
    runSession(1);
  // The comparison's step was posted before the menu opened: it is dropped when delivered.
  const auto posted = program->stepToPost(false);
  ASSERT_TRUE(posted);
  program->menuShown(true);
  EXPECT_EQ(program->runStep(*posted, false), StepResult::Ignored);
  runSession();
  EXPECT_EQ(state().transferStep, TransferStep::AwaitDataFrame);
  EXPECT_TRUE(desktop.op.messages.empty());
  program->menuShown(false);
  runSession();
  EXPECT_EQ(state().outcome, SessionOutcome::Declined);
  ASSERT_EQ(desktop.op.messages.size(), 1u);
  EXPECT_EQ(desktop.op.messages[0].buttons, Buttons::YesNo);
}

}  // namespace
}  // namespace morva::testing
