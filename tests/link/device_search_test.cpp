#include "tests/link/link_fixture.h"

namespace morva::testing {
namespace {

using DetectDevice = LinkTest;
using ReopenOrDetect = LinkTest;
using Bytes = std::vector<std::uint8_t>;
using Ticks = std::vector<std::pair<int, bool>>;

TEST_F(DetectDevice, FoundOnlyOnSixBytesEndingInAck) {
  Reply vanished = Reply::failure(5, 2);
  Reply cannotStart = Reply::failure(9);
  cannotStart.startFails = true;
  struct Case {
    const char* what;
    Reply answer;
    bool found;
  } cases[] = {
      {"identification", Reply::bytes(deviceIdentification), true},
      {"after pending polls", Reply::bytes(deviceIdentification, 3), true},
      {"wrong checksum", Reply::bytes({1, 2, 3, 4, 5, ACK}), true},
      {"five bytes", Reply::bytes({2, 5, 1, 10, ACK}), false},
      {"no ACK at the end", Reply::bytes({2, 5, 1, 10, 0xEE, NAK}), false},
      {"nothing", Reply::bytes({}), false},
      {"device gone", vanished, false},
      {"read cannot start", cannotStart, false},
  };
  listPorts({"P"});
  for (const auto& c : cases) {
    op.clear();
    port.operations.clear();
    answers["P"] = c.answer;
    EXPECT_EQ(detect().found, c.found) << c.what;
    EXPECT_EQ(port.isOpen(), c.found) << c.what;
    EXPECT_TRUE(op.ticks.empty()) << "the caller ticks the port, not the search";
    ASSERT_FALSE(port.operations.empty()) << c.what;
    EXPECT_TRUE(port.operations.back().isRead);
    EXPECT_EQ(port.operations.back().size, identificationSize);
  }
}

TEST_F(DetectDevice, TriesPortsInOrderUntilOneAnswers) {
  listPorts({"A", "B", "C", "D"});
  port.unopenable = {"B"};
  answers["A"] = Reply::bytes({1, 2, 3});
  answers["C"] = Reply::bytes(deviceIdentification);
  answers["D"] = Reply::bytes(deviceIdentification);
  EXPECT_TRUE(detect().found);
  EXPECT_EQ(link.portIndex, 2);
  EXPECT_EQ(port.name(), "C");
  EXPECT_EQ(port.opened, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(port.priorityBytes, (Bytes{ESC, ESC}));
  EXPECT_EQ(link.bytesRead, 6u);
  EXPECT_EQ(Bytes(link.ioBuffer.begin(), link.ioBuffer.begin() + 6), deviceIdentification);
  EXPECT_TRUE(op.ticks.empty());
}

TEST_F(DetectDevice, WithoutAnswerEndsAtTheLastPortWithNothingOpenOrTicked) {
  listPorts({"A", "B", "C"});
  for (const char* name : {"A", "B", "C"}) answers[name] = Reply::bytes({ACK});
  EXPECT_FALSE(detect().found);
  EXPECT_EQ(link.portIndex, 2);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(port.closes, 3);
  EXPECT_TRUE(op.ticks.empty());
}

TEST_F(DetectDevice, ReadThatNeverEndsIsGivenUpAtTheProbeDeadline) {
  listPorts({"A", "B"});
  answers["B"] = Reply::bytes(deviceIdentification);
  const Clock::time_point start = port.now;
  EXPECT_TRUE(detect().found);
  EXPECT_EQ(port.name(), "B");
  ASSERT_FALSE(port.waits.empty());
  for (auto until : port.waits) EXPECT_EQ(until, start + probeDeadline);
  EXPECT_EQ(port.now, start + probeDeadline);
  EXPECT_EQ(port.purges, 3);  // A's read is aborted at its deadline, not left to land later
}

TEST_F(DetectDevice, WaitsNoLongerThanThePortSuggests) {
  listPorts({"A"});
  answers["A"] = Reply::bytes(deviceIdentification, 1);
  port.hintDeadline = port.now + std::chrono::milliseconds(120);
  EXPECT_TRUE(detect().found);
  EXPECT_EQ(port.waits, std::vector<Clock::time_point>{port.hintDeadline});
}

TEST_F(DetectDevice, PortRefusingThePriorityByteIsClosedUnread) {
  listPorts({"A", "B"});
  port.priorityFails = true;
  EXPECT_FALSE(detect().found);
  EXPECT_TRUE(port.operations.empty());
  EXPECT_EQ(port.closes, 2);
  EXPECT_EQ(link.portIndex, 1);
}

TEST_F(DetectDevice, EmptyListFindsNothing) {
  EXPECT_FALSE(detect().found);
  EXPECT_TRUE(port.opened.empty());
}

// A search that finds nothing says why, port by port: the OS's refusal (with its advice), or
// that a port opened but nothing answered there.
TEST_F(DetectDevice, WhatTheSearchMetIsTheDetailOfTheNotFoundBox) {
  listPorts({"A", "B", "C"});
  port.unopenable = {"A"};
  port.unconfigurable = {"B"};
  const SearchResult missed = detect();
  ASSERT_FALSE(missed.found);
  EXPECT_EQ(notFoundMessage(missed).detail,
            "A: No such file or directory\nB: Inappropriate ioctl for device\n"
            "C: no answer from a Vk350");
  answers["C"] = Reply::bytes(deviceIdentification);
  const SearchResult found = detect();
  ASSERT_TRUE(found.found);
  EXPECT_EQ(found.report.size(), 2u);
  EXPECT_EQ(found.versions, (std::array<std::uint8_t, 4>{2, 5, 1, 10}));
}

TEST_F(ReopenOrDetect, SearchesOnlyWhenTheSelectedPortFails) {
  const std::string notFound = "A problem :: " + notFoundMessage(SearchResult{}).text;
  struct Case {
    const char* what;
    std::vector<std::string> unopenable, unconfigurable;
    bool deviceOnB;
    PortReadiness result;
    std::vector<std::string> shown;
    Ticks ticks;
  } cases[] = {
      {"selected opens, not probed", {}, {}, false, PortReadiness::Ready, {}, {}},
      {"found elsewhere",
       {"C"},
       {},
       true,
       PortReadiness::Ready,
       {"Warning: Port open error !"},
       {{2, false}, {1, true}}},
      {"configure fails, nothing found",
       {},
       {"C"},
       false,
       PortReadiness::NoPort,
       {"Warning: Port configuration error !", notFound},
       {{2, false}}},
  };
  listPorts({"A", "B", "C"});
  for (const auto& c : cases) {
    op.clear();
    port.operations.clear();
    port.unopenable.clear();
    ASSERT_TRUE(port.open("C"));  // left from an earlier transfer
    port.unopenable = c.unopenable;
    port.unconfigurable = c.unconfigurable;
    answers.clear();
    if (c.deviceOnB) answers["B"] = Reply::bytes(deviceIdentification);
    link.portIndex = 2;
    EXPECT_EQ(reopen(), c.result) << c.what;
    EXPECT_EQ(op.shown(), c.shown) << c.what;
    EXPECT_EQ(op.ticks, c.ticks) << c.what;
    EXPECT_EQ(port.isOpen(), c.result == PortReadiness::Ready) << c.what;
    if (c.result == PortReadiness::Ready && !c.deviceOnB) {
      EXPECT_TRUE(port.operations.empty()) << c.what;
    }
  }
  EXPECT_EQ(notFoundMessage(SearchResult{}).icon, Icon::Warning);
}

// The line falls quiet before a session unless nothing can be owed on it: the port was just
// probed with a whole answer, or the last exchange on it ended with one.
TEST_F(ReopenOrDetect, WaitsForQuietOnlyWhereSomethingMayBeOwed) {
  struct Case {
    const char* what;
    std::function<void()> before;
    int quietWaits;
  } cases[] = {
      {"found by the search", [&] { ASSERT_TRUE(detect().found); }, 0},
      {"chosen by hand", [&] { openSelectedPort(link, op, true); }, 1},
      {"an exchange ended whole", [&] { link.lineQuiet = true; }, 0},
      {"an answer still owed", [&] { link.lineQuiet = false; }, 1},
      {"the port closed meanwhile", [&] { port.close(); }, 1},
  };
  listPorts({"B"});
  answers["B"] = Reply::bytes(deviceIdentification);
  for (const auto& c : cases) {
    ASSERT_EQ(reopen(), PortReadiness::Ready) << c.what;  // a session has run on it
    c.before();
    const int before = port.quietWaits;
    ASSERT_EQ(reopen(), PortReadiness::Ready) << c.what;
    EXPECT_EQ(port.quietWaits - before, c.quietWaits) << c.what;
  }
}

TEST_F(ReopenOrDetect, EmptyListUnticksNothing) {
  EXPECT_EQ(reopen(), PortReadiness::NoPort);
  EXPECT_EQ(op.shown(),
            (std::vector<std::string>{
                "Warning: Port open error !",
                "A problem :: Vk350 not found !\nConnect and prepare device\nand try again."}));
  EXPECT_TRUE(op.ticks.empty());
}

}  // namespace
}  // namespace morva::testing

namespace morva::testing {
namespace {

// Every port probed at once: each one's own answer, and one probe's time for all of them
// (the waits run on one clock that only the waits move).
TEST(ProbeEach, ProbesAllPortsSideBySideInOneProbesTime) {
  struct Row {
    const char* name;
    std::optional<Reply> answer;  // none: the port cannot be opened
    bool found;
    const char* report;
  };
  const Row rows[] = {
      {"A", Reply::bytes(deviceIdentification, 3), true, ""},
      {"B", std::nullopt, false, "B: No such file or directory"},
      {"C", Reply::written(1 << 30), false, "C: no answer from a Vk350"},  // silent
      {"D", Reply::bytes({2, 5, 1, 10, 0xEE, NAK}), false, "D: no answer from a Vk350"},
      {"E", Reply::bytes(deviceIdentification), true, ""},
  };
  Clock::time_point now{};
  std::vector<std::unique_ptr<ClockedPort>> ports;
  std::vector<LinkPort> links(std::size(rows));
  std::vector<LinkPort*> probed;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    ports.push_back(std::make_unique<ClockedPort>());
    ClockedPort& port = *ports.back();
    if (!rows[i].answer) port.unopenable = {rows[i].name};
    const Reply answer = rows[i].answer.value_or(Reply::written());
    port.device = [answer](const Operation&) { return answer; };
    links[i].port = &port;
    links[i].portNameTable = {rows[i].name};
    probed.push_back(&links[i]);
  }
  int waits = 0;
  const auto results = probeEach(
      probed,
      [&](const SessionLoop::Wait& wait) {
        ++waits;
        now = std::max(now, std::min(now + std::chrono::milliseconds(10), wait.deadline));
      },
      [&] { return now; });
  ASSERT_EQ(results.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(results[i].found, rows[i].found);
    EXPECT_EQ(ports[i]->isOpen(), rows[i].found);
    EXPECT_EQ(results[i].report, *rows[i].report ? std::vector<std::string>{rows[i].report}
                                                 : std::vector<std::string>{});
  }
  EXPECT_EQ(results[0].versions, (std::array<std::uint8_t, 4>{2, 5, 1, 10}));
  EXPECT_LE(now, Clock::time_point{} + probeDeadline) << "longer than one probe";
  EXPECT_LE(waits, 101);
}

}  // namespace
}  // namespace morva::testing
