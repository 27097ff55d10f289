// The one loop every front end drives its sessions with: what is due when, and what to wait on.
#include "transfer/session_loop.h"

#include <gtest/gtest.h>

#include "tests/support/engine_rig.h"

namespace morva::testing {
namespace {

using namespace std::chrono_literals;
using enum TransferStep;

// A port whose hint the test sets.
struct HintedPort : FakeSerialPort {
  WaitHint hint;
  WaitHint waitHint() const override { return hint; }
};

// A session at step 4 whose command write stays pending for `pending` polls.
struct Session : EngineRig<HintedPort> {
  explicit Session(int pending = 0) {
    state.direction = Direction::ReadFromDevice;
    state.transferStep = AwaitCommandSent;
    state.blocksLeft = 5;
    outstanding(false, blockCommandSize, Reply::written(pending));
  }
};

TEST(SessionLoop, PostsOneStepAtATimeOnlyWhileTheSessionRunsAndNoBoxHoldsIt) {
  Session s(1);
  SessionLoop loop;
  const auto id = loop.add(s.state, s.link, s.op);
  EXPECT_EQ(loop.stepToPost(id, true), std::nullopt) << "held by a box";
  ASSERT_EQ(loop.stepToPost(id, false), AwaitCommandSent);
  EXPECT_EQ(loop.stepToPost(id, false), std::nullopt) << "one is on its way";
  EXPECT_EQ(loop.deliver(id, AwaitCommandSent, true), StepResult::Ignored) << "a box opened";
  ASSERT_EQ(loop.stepToPost(id, false), AwaitCommandSent) << "posted again after the box";
  EXPECT_EQ(loop.deliver(id, AwaitCommandSent, false), StepResult::Waiting);
  EXPECT_TRUE(loop.waiting(id));
  EXPECT_EQ(loop.stepToPost(id, false), std::nullopt) << "parked on its port";
  loop.wake(id);
  ASSERT_EQ(loop.stepToPost(id, false), AwaitCommandSent);
  EXPECT_EQ(loop.deliver(id, AwaitCommandSent, false), StepResult::Advanced);
  EXPECT_EQ(s.state.transferStep, AwaitCommandAnswer);
  s.state.transferStep = Idle;
  EXPECT_EQ(loop.stepToPost(id, false), std::nullopt) << "no session runs";
  EXPECT_FALSE(loop.anyRunning());
}

// Sessions side by side: each due one steps in turn; a parked one is skipped until woken, and
// the wait is on every parked port at once, never longer than the longest wait.
TEST(SessionLoop, DrivesSessionsSideBySideAndWaitsOnAllTheirPorts) {
  Session quick, slow(1), idle;
  idle.state.transferStep = Idle;
  slow.port.hint = {7, Clock::now() + 40ms};
  SessionLoop loop;
  for (Session* s : {&quick, &slow, &idle}) loop.add(s->state, s->link, s->op);
  EXPECT_EQ(loop.runDue(), 1u) << "the slow one's write is pending";
  EXPECT_EQ(quick.state.transferStep, AwaitCommandAnswer);
  EXPECT_TRUE(loop.waiting(1));
  const auto now = Clock::now();
  const SessionLoop::Wait wait = loop.nextWait(now);
  EXPECT_EQ(wait.waitables, (std::vector<std::intptr_t>{7}));
  EXPECT_EQ(wait.deadline, slow.port.hint.deadline);
  slow.port.hint.deadline = Clock::time_point::max();
  EXPECT_EQ(loop.nextWait(now).deadline, now + SessionLoop::longestWait);
  loop.wakeAll();
  quick.state.transferStep = Idle;
  EXPECT_EQ(loop.runDue(), 1u);
  EXPECT_EQ(slow.state.transferStep, AwaitCommandAnswer);
  EXPECT_EQ(loop.nextWait(now).waitables.size(), 0u) << "nobody waits";
}

}  // namespace
}  // namespace morva::testing
