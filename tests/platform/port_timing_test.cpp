#include "platform/port_timing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace morva {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

const OsError busy{16, "busy", FailureCause::Other};

class PortTimingTest : public ::testing::Test {
 protected:
  Clock::time_point at(Ms offset) const { return origin + offset; }

  const Clock::time_point origin = Clock::time_point{} + 1h;
  Clock::time_point t = origin;
  PortTiming timing{[this] { return t; }};
};

// A read of `size` bytes started at 0 under the line's time-outs (120 ms a byte, 100 ms after
// a byte), fed arrivals at the given offsets, as the port that knows arrival times feeds it:
// a refused byte and all after it stay out.
struct ReadCase {
  std::string name;
  std::size_t size;
  std::vector<std::pair<Ms, std::size_t>> arrivals;  // when, how many bytes
  Ms pollAt;
  bool over;
  std::size_t done;
  Ms nextDeadline;
};

TEST_F(PortTimingTest, AReadEndsByItsCountItsTotalTimeOutOrThePauseAfterAByte) {
  const std::vector<ReadCase> cases{
      {"silent, before its total", 6, {}, 719ms, false, 0, 720ms},
      {"silent, at its total", 6, {}, 720ms, true, 0, 720ms},
      {"every byte", 6, {{10ms, 4}, {20ms, 2}}, 20ms, true, 6, 120ms},
      {"more than asked for stays out", 1, {{5ms, 3}}, 5ms, true, 1, 105ms},
      {"a pause not yet over", 6, {{10ms, 3}}, 109ms, false, 3, 110ms},
      {"a pause over", 6, {{10ms, 3}}, 110ms, true, 3, 110ms},
      {"bytes after a pause belong to the next read",
       6,
       {{10ms, 3}, {111ms, 3}},
       300ms,
       true,
       3,
       110ms},
      {"a late poll still takes what came in time",
       6,
       {{10ms, 3}, {90ms, 3}},
       5000ms,
       true,
       6,
       190ms},
      {"nothing counts after the total", 2, {{230ms, 1}, {241ms, 1}}, 241ms, true, 1, 240ms},
      {"the total ends a read whose bytes keep trickling",
       3,
       {{170ms, 1}, {269ms, 1}, {368ms, 1}},
       360ms,
       true,
       2,
       360ms},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    t = origin;
    timing.clear();
    ASSERT_TRUE(timing.begin(PortTiming::Kind::Read, c.size, busy));
    for (const auto& [when, count] : c.arrivals) {
      std::size_t taken = 0;
      while (taken < count && timing.accepts(at(when))) {
        timing.arrived(1, at(when));
        ++taken;
      }
    }
    EXPECT_EQ(timing.over(at(c.pollAt)), c.over);
    EXPECT_EQ(timing.done(), c.done);
    EXPECT_EQ(timing.nextDeadline(), at(c.nextDeadline));
  }
}

TEST_F(PortTimingTest, TheTimeOutsAreThoseConfigured) {
  timing.configure({20ms, 400ms});
  ASSERT_TRUE(timing.begin(PortTiming::Kind::Read, 50, busy));
  EXPECT_EQ(timing.nextDeadline(), at(1000ms));
  timing.arrived(1, at(10ms));
  EXPECT_FALSE(timing.over(at(409ms)));
  EXPECT_TRUE(timing.over(at(410ms)));
}

TEST_F(PortTimingTest, AGapReadWaitsOneIntervalForAFirstByte) {
  t = at(50ms);
  ASSERT_TRUE(timing.begin(PortTiming::Kind::GapRead, 1, busy));
  EXPECT_EQ(timing.nextDeadline(), at(150ms));
  EXPECT_FALSE(timing.accepts(at(150ms)));
  EXPECT_TRUE(timing.accepts(at(149ms)));
  EXPECT_FALSE(timing.over(at(149ms)));
  EXPECT_TRUE(timing.over(at(150ms)));
  EXPECT_EQ(timing.done(), 0u);
}

TEST_F(PortTimingTest, AWriteIsBoundedByItsTotalTimeOutAlone) {
  ASSERT_TRUE(timing.begin(PortTiming::Kind::Write, 257, busy));
  timing.wrote(257);
  EXPECT_FALSE(timing.over(at(30839ms)));  // the port says when its bytes have left
  EXPECT_TRUE(timing.over(at(30840ms)));
  EXPECT_EQ(timing.nextDeadline(), at(30840ms));
  EXPECT_FALSE(timing.accepts(at(0ms)));
}

TEST_F(PortTimingTest, ASecondStartAbandonsBothAndItsRefusalIsReportedOnce) {
  ASSERT_TRUE(timing.begin(PortTiming::Kind::Read, 6, busy));
  EXPECT_FALSE(timing.begin(PortTiming::Kind::Write, 1, busy));
  EXPECT_FALSE(timing.outstanding());
  EXPECT_EQ(timing.nextDeadline(), t);  // due now
  const auto refusal = timing.takeRefusal();
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->number, busy.number);
  EXPECT_FALSE(timing.takeRefusal().has_value());
  EXPECT_EQ(timing.nextDeadline(), Clock::time_point::max());
  EXPECT_TRUE(timing.begin(PortTiming::Kind::Read, 6, busy));
}

// A refusal the port made itself lives until a poll, a new start, a purge or a close.
TEST_F(PortTimingTest, ARefusedStartIsForgottenByWhatOvertakesIt) {
  timing.refuse({9, "closed", FailureCause::Other});
  EXPECT_TRUE(timing.refusedStart());
  ASSERT_TRUE(timing.begin(PortTiming::Kind::Read, 1, busy));
  EXPECT_FALSE(timing.takeRefusal().has_value());
  timing.refuse({9, "closed", FailureCause::Other});
  timing.clear();
  EXPECT_FALSE(timing.refusedStart());
  EXPECT_FALSE(timing.outstanding());
}

// A start the port turned down once begun (the OS refused the write) leaves nothing
// outstanding: the next start is not taken for a second one.
TEST_F(PortTimingTest, ARefusalDropsTheStartItRefuses) {
  ASSERT_TRUE(timing.begin(PortTiming::Kind::Write, 6, busy));
  timing.refuse({5, "gone", FailureCause::Vanished});
  EXPECT_FALSE(timing.outstanding());
  EXPECT_EQ(timing.nextDeadline(), t);  // due now
  EXPECT_TRUE(timing.begin(PortTiming::Kind::Read, 1, busy));
}

}  // namespace
}  // namespace morva
