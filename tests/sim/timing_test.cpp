// Time on the simulated line: pacing at the wire rate, answer latency, pauses, and a stop
// that does not wait for any of them. Only lower bounds are asserted; upper bounds are hang
// guards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/simulator.h"
#include "tests/sim/pty_client.h"

namespace morva::sim {
namespace {

using namespace test;
using std::chrono::milliseconds;

milliseconds since(TestClock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(TestClock::now() - start);
}

SimulatorOptions withLatency(milliseconds latency) {
  SimulatorOptions options;
  options.answerLatency = latency;
  return options;
}

TEST(SimulatorTiming, PacedReadTakesTheWireTimeOfItsFrame) {
  Simulator sim(pacedWith());
  PtyClient pc(sim.portPath());
  const auto start = TestClock::now();
  pc.send(readCommand(12));
  EXPECT_EQ(pc.receive(258).size(), 258u);
  // 4 + 258 bytes at 260 us each: 68 ms.
  EXPECT_GE(since(start), milliseconds(60));
}

TEST(SimulatorTiming, PacedWriteIsAnsweredOnlyOnceTheFrameCouldHaveArrived) {
  Simulator sim(pacedWith());
  PtyClient pc(sim.portPath());
  pc.send(writeCommand(12));
  ASSERT_EQ(pc.receive(1), Bytes{0x06});
  const auto start = TestClock::now();
  pc.send(sealed(blockPattern(12)));  // the pty takes all 257 bytes at once
  EXPECT_EQ(pc.receive(1), Bytes{0x06});
  EXPECT_GE(since(start), milliseconds(60));
}

TEST(SimulatorTiming, LatencyAndLateFaultsHoldTheAnswerBack) {
  struct Case {
    SimulatorOptions options;
    Bytes request;
    std::size_t answerLength;
    milliseconds atLeast;
  };
  Case cases[] = {
      {withLatency(milliseconds(120)), {0x1B}, 6, milliseconds(110)},
      {withFault("late@command:2=150"), readCommand(2), 258, milliseconds(140)},
      {withFault("late@wakeup=300"), {0x1B}, 6, milliseconds(290)},
  };
  for (auto& c : cases) {
    Simulator sim(std::move(c.options));
    PtyClient pc(sim.portPath());
    const auto start = TestClock::now();
    pc.send(c.request);
    EXPECT_EQ(pc.receive(c.answerLength).size(), c.answerLength);
    EXPECT_GE(since(start), c.atLeast);
  }
}

TEST(SimulatorTiming, PauseInsideADataFrameSplitsIt) {
  Simulator sim(withFault("pause@data:5=80"));
  PtyClient pc(sim.portPath());
  pc.send(readCommand(5));
  EXPECT_EQ(pc.receive(1 + 128).size(), 129u);
  const auto start = TestClock::now();
  EXPECT_EQ(pc.receive(129).size(), 129u);
  EXPECT_GE(since(start), milliseconds(70));
}

TEST(SimulatorTiming, StopCutsALongPauseShort) {
  Simulator sim(pacedWith(withFault("pause@data=60000")));
  PtyClient pc(sim.portPath());
  pc.send(readCommand(0));
  EXPECT_EQ(pc.receive(129).size(), 129u);
  const auto start = TestClock::now();
  sim.stop();
  EXPECT_LT(since(start), milliseconds(5000));  // hang guard: the pause was a minute
}

}  // namespace
}  // namespace morva::sim
