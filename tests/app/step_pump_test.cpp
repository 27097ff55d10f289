#include "app/step_pump.h"

#include <gtest/gtest.h>

namespace morva {
namespace {

using enum TransferStep;

TEST(StepPumpTest, PostsOnlyWhileASessionRunsAndNoModalIsOpen) {
  StepPump pump;
  EXPECT_EQ(pump.idle(Idle, false), std::nullopt);
  EXPECT_EQ(pump.idle(SendCommand, true), std::nullopt);
  EXPECT_EQ(pump.idle(SendCommand, false), SendCommand);
}

TEST(StepPumpTest, OneStepIsOnItsWayAtATime) {
  StepPump pump;
  ASSERT_EQ(pump.idle(AwaitCommandAnswer, false), AwaitCommandAnswer);
  EXPECT_EQ(pump.idle(AwaitCommandAnswer, false), std::nullopt);
  EXPECT_TRUE(pump.deliver(false));
  EXPECT_EQ(pump.idle(AwaitDataSent, false), AwaitDataSent);
}

TEST(StepPumpTest, StepArrivingUnderAModalIsDroppedAndPostedAgainAfterIt) {
  StepPump pump;
  ASSERT_EQ(pump.idle(AwaitCommandSent, false), AwaitCommandSent);
  EXPECT_FALSE(pump.deliver(true));
  EXPECT_EQ(pump.idle(AwaitCommandSent, true), std::nullopt);
  EXPECT_EQ(pump.idle(AwaitCommandSent, false), AwaitCommandSent);
}

TEST(StepPumpTest, WaitingOnThePortPostsNothingUntilWoken) {
  StepPump pump;
  ASSERT_EQ(pump.idle(AwaitIdentification, false), AwaitIdentification);
  ASSERT_TRUE(pump.deliver(false));
  pump.wait();
  EXPECT_EQ(pump.idle(AwaitIdentification, false), std::nullopt);
  pump.wake();
  EXPECT_EQ(pump.idle(AwaitIdentification, false), AwaitIdentification);
}

}  // namespace
}  // namespace morva
