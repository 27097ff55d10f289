// What the main window sees of a session run through the program's step loop: its lines after
// it ends, however it ends.
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

}  // namespace
}  // namespace morva::testing
