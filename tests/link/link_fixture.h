// A link on a fake port whose waits move a fake clock, so probe deadlines pass without sleeping.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "link/link.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/recording_operator.h"
#include "transfer/frames.h"

namespace morva::testing {

class ClockedPort : public FakeSerialPort {
 public:
  Clock::time_point now{};
  std::vector<Clock::time_point> waits;  // the `until` of every wait
  Clock::time_point hintDeadline = Clock::time_point::max();
  int polls = 0;

  TimeSource clock() {
    return [this] { return now; };
  }
  WaitHint waitHint() const override { return {-1, hintDeadline}; }
  void waitForProgress(Clock::time_point until) override {
    waits.push_back(until);
    // The script moves on at the next poll, so a wait takes a moment, never past `until`.
    now = std::max(now, std::min(now + std::chrono::milliseconds(10), until));
    if (waits.size() > 1000) {  // hang guard: a search that never gives up
      ADD_FAILURE() << "the probe never gave up";
      close();
    }
  }
  PollResult poll() override {
    if (++polls > 100000) {  // hang guard: a probe spinning without ever waiting
      ADD_FAILURE() << "the probe polls without waiting";
      close();
    }
    return FakeSerialPort::poll();
  }
};

class LinkTest : public ::testing::Test {
 protected:
  ClockedPort port;
  LinkPort link;
  RecordingOperator op;
  std::map<std::string, Reply> answers;  // the probe's answer, by port; silent when absent

  void SetUp() override {
    link.port = &port;
    port.device = [this](const Operation&) {
      auto it = answers.find(port.name());
      if (it != answers.end()) return it->second;
      return Reply::written(1 << 30);  // a read that never ends
    };
  }
  void listPorts(std::vector<std::string> names) { link.portNameTable = std::move(names); }
  SearchResult detect() { return detectDevice(link, port.clock()); }
  PortReadiness reopen() { return reopenOrDetect(link, op, op, port.clock()); }
};

}  // namespace morva::testing
