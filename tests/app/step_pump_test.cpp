#include "app/step_pump.h"

#include <gtest/gtest.h>

namespace morva {
namespace {

TEST(StepPumpTest, PostsOnlyWhileASessionRunsAndNoModalIsOpen) {
  StepPump pump;
  EXPECT_EQ(pump.idle(0, false), std::nullopt);
  EXPECT_EQ(pump.idle(3, true), std::nullopt);
  EXPECT_EQ(pump.idle(3, false), 3);
}

TEST(StepPumpTest, OneStepIsOnItsWayAtATime) {
  StepPump pump;
  ASSERT_EQ(pump.idle(5, false), 5);
  EXPECT_EQ(pump.idle(5, false), std::nullopt);
  EXPECT_TRUE(pump.deliver(false));
  EXPECT_EQ(pump.idle(6, false), 6);
}

TEST(StepPumpTest, StepArrivingUnderAModalIsDroppedAndPostedAgainAfterIt) {
  StepPump pump;
  ASSERT_EQ(pump.idle(4, false), 4);
  EXPECT_FALSE(pump.deliver(true));
  EXPECT_EQ(pump.idle(4, true), std::nullopt);
  EXPECT_EQ(pump.idle(4, false), 4);
}

TEST(StepPumpTest, WaitingOnThePortPostsNothingUntilWoken) {
  StepPump pump;
  ASSERT_EQ(pump.idle(2, false), 2);
  ASSERT_TRUE(pump.deliver(false));
  pump.wait();
  EXPECT_EQ(pump.idle(2, false), std::nullopt);
  pump.wake();
  EXPECT_EQ(pump.idle(2, false), 2);
}

}  // namespace
}  // namespace morva
