// The page's serial port, natively: its time-outs judged from when bytes arrived, whatever the
// moment of the poll, against a scripted line and a clock moved by hand; and the whole port
// contract against the simulated Vk350 the page carries.
#include "platform/web/web_serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frontends/web/simulated_line.h"
#include "tests/support/serial_port_contract.h"

namespace morva {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

// A line whose arrivals the test lays out in advance; take() hands over those due by now.
struct ScriptedLine : SerialLine {
  std::deque<Arrival> script;
  std::optional<OsError> refusal;
  std::optional<OsError> gone;
  bool stillWriting = false;
  Clock::duration wire = Clock::duration::zero();
  std::vector<Bytes> written;
  const Clock::time_point* now = nullptr;

  std::optional<OsError> open() override { return refusal; }
  void close() override {}
  void write(std::span<const std::uint8_t> bytes) override {
    written.emplace_back(bytes.begin(), bytes.end());
  }
  bool writing() const override { return stillWriting; }
  Clock::duration byteTime() const override { return wire; }
  void take(std::deque<Arrival>& into) override {
    while (!script.empty() && script.front().at <= *now) {
      into.push_back(script.front());
      script.pop_front();
    }
  }
  void discard() override { script.clear(); }
  std::optional<OsError> failure() const override { return gone; }
  void waitForNews(Clock::time_point) override {}
};

class WebSerialPortTest : public ::testing::Test {
 protected:
  WebSerialPortTest() {
    line->now = &t;
    port.open("ttyS0");
    port.configure(lineTimeouts);
  }
  Clock::time_point at(Ms offset) const { return origin + offset; }
  void arrive(Ms offset, Bytes bytes) { line->script.push_back({std::move(bytes), at(offset)}); }

  const Clock::time_point origin = Clock::time_point{} + 1h;
  Clock::time_point t = origin;
  ScriptedLine* line = new ScriptedLine;
  WebSerialPort port{[this](const std::string&) { return std::unique_ptr<SerialLine>(line); },
                     [this] { return t; }};
};

// A read of `size` started at 0 and polled once, at `pollAt`, however late: the bytes that came
// while it was open are its own, the rest wait for the next read.
struct LatePoll {
  std::string name;
  std::size_t size;
  std::vector<std::pair<Ms, Bytes>> arrivals;
  Ms pollAt;
  bool pending;
  Bytes got;
  Bytes leftOver;
};

TEST_F(WebSerialPortTest, AReadIsJudgedByWhenItsBytesArrivedNotByWhenItWasPolled) {
  const std::vector<LatePoll> cases{
      {"an answer in time, polled long after its time-out",
       1,
       {{50ms, {6}}},
       2000ms,
       false,
       {6},
       {}},
      {"a device silent past the time-out, then talking",
       1,
       {{130ms, {6}}},
       2000ms,
       false,
       {},
       {6}},
      {"a pause inside the answer ends the read there",
       6,
       {{10ms, {2, 5}}, {150ms, {1, 10}}},
       2000ms,
       false,
       {2, 5},
       {1, 10}},
      {"one chunk larger than the read", 1, {{10ms, {6, 6, 6}}}, 11ms, false, {6}, {6, 6}},
      {"not over yet", 6, {{10ms, {2, 5}}}, 60ms, true, {}, {}},
  };
  for (const LatePoll& c : cases) {
    SCOPED_TRACE(c.name);
    port.purge();
    t = origin;
    for (const auto& [when, bytes] : c.arrivals) arrive(when, bytes);
    Bytes buffer(c.size);
    ASSERT_TRUE(port.startRead(buffer));
    t = at(c.pollAt);
    const PollResult r = port.poll();
    ASSERT_EQ(r.isPending(), c.pending);
    if (c.pending) continue;
    ASSERT_TRUE(r.isCompleted());
    buffer.resize(r.count);
    EXPECT_EQ(buffer, c.got);
    Bytes rest(8);
    rest.resize(port.takeUnasked(rest));
    EXPECT_EQ(rest, c.leftOver);
  }
}

TEST_F(WebSerialPortTest, AWriteEndsWhenTheBrowserTookItAndItsBytesHaveLeftTheWire) {
  line->wire = 260us;
  line->stillWriting = true;
  const Bytes frame(257, 0x55);
  ASSERT_TRUE(port.startWrite(frame));
  EXPECT_EQ(line->written.back(), frame);
  EXPECT_TRUE(port.poll().isPending());
  line->stillWriting = false;
  t = at(66ms);  // 257 bytes take 66.8 ms at 38400 baud
  EXPECT_EQ(port.waitHint().deadline, origin + 257 * 260us);
  EXPECT_TRUE(port.poll().isPending());
  t = at(67ms);
  const PollResult r = port.poll();
  ASSERT_TRUE(r.isCompleted());
  EXPECT_EQ(r.count, frame.size());
}

TEST_F(WebSerialPortTest, AWriteTheBrowserNeverTakesEndsAtItsTimeOutWithNothingWritten) {
  line->stillWriting = true;
  const Bytes command{0x11, 0, 0, 0xEF};
  ASSERT_TRUE(port.startWrite(command));
  t = at(480ms);
  const PollResult r = port.poll();
  ASSERT_TRUE(r.isCompleted());
  EXPECT_EQ(r.count, 0u);
}

TEST_F(WebSerialPortTest, ALostDeviceFailsThePollWithTheBrowsersReason) {
  Bytes buffer(6);
  ASSERT_TRUE(port.startRead(buffer));
  line->gone =
      OsError{webError::lost, "NetworkError: The device has been lost.", FailureCause::Vanished};
  const PollResult r = port.poll();
  ASSERT_TRUE(r.isFailed());
  EXPECT_EQ(r.error.number, webError::lost);
  EXPECT_EQ(r.error.text, "NetworkError: The device has been lost.");
  EXPECT_EQ(r.error.cause, FailureCause::Vanished);
  EXPECT_FALSE(port.startWrite(buffer));  // and every later start says so too
  EXPECT_EQ(port.poll().error.number, webError::lost);
}

TEST(WebSerialPortOpen, ALineThatRefusesOrANameThePageDoesNotKnowIsNotOpened) {
  WebSerialPort unknown([](const std::string&) { return std::unique_ptr<SerialLine>(); });
  EXPECT_FALSE(unknown.open("COM9"));
  EXPECT_EQ(unknown.lastError().cause, FailureCause::NotFound);
  auto* held = new ScriptedLine;
  held->refusal = OsError{16, "NetworkError: Failed to open serial port.", FailureCause::Busy};
  WebSerialPort busy([held](const std::string&) { return std::unique_ptr<SerialLine>(held); });
  EXPECT_FALSE(busy.open("ttyUSB0"));
  EXPECT_FALSE(busy.isOpen());
  EXPECT_EQ(busy.lastError().cause, FailureCause::Busy);
}

}  // namespace

namespace testing {

// The contract against the page's simulated Vk350, on the real clock.
ContractLine contractLine() {
  static web::SimulatedDevice device;
  ContractLine line;
  line.deviceName = "Simulated Vk350";
  line.makePort = [] {
    return std::make_unique<WebSerialPort>(
        [](const std::string& name) -> std::unique_ptr<SerialLine> {
          if (name != "Simulated Vk350") return nullptr;
          return std::make_unique<web::SimulatedLine>(
              device, [] { return Clock::now(); },
              [](Clock::time_point until) { std::this_thread::sleep_until(until); });
        });
  };
  line.notOpen = webError::notOpen;
  line.busy = webError::busy;
  line.nothingOutstanding = webError::invalid;
  return line;
}

}  // namespace testing
}  // namespace morva
