#include "tests/link/link_fixture.h"

namespace morva::testing {
namespace {

using OpenSelectedPort = LinkTest;

TEST_F(OpenSelectedPort, ReportsEachFailureUnlessSilentAndLeavesNoPortOpen) {
  struct Case {
    int index;
    bool silent;
    PortOpening result;
    std::vector<std::string> shown;
    std::string detail;
  } cases[] = {
      {1, false, PortOpening::Opened, {}, ""},
      {0, false, PortOpening::Failed, {"Warning: Port open error !"}, "A: No such file"},
      {0, true, PortOpening::Failed, {}, ""},
      {2, false, PortOpening::Failed, {"Warning: Port configuration error !"}, "C: Inappropriate"},
      {2, true, PortOpening::Failed, {}, ""},
      {3, false, PortOpening::Failed, {"Warning: Port open error !"}, "No port"},
      {-1, false, PortOpening::Failed, {"Warning: Port open error !"}, "No port"},
  };
  listPorts({"A", "B", "C"});
  port.unopenable = {"A"};
  port.unconfigurable = {"C"};
  for (const auto& c : cases) {
    op.clear();
    link.portIndex = c.index;
    EXPECT_EQ(openSelectedPort(link, op, c.silent), c.result) << c.index;
    EXPECT_EQ(op.shown(), c.shown) << c.index;
    EXPECT_EQ(port.isOpen(), c.result == PortOpening::Opened) << c.index;
    if (c.result == PortOpening::Opened) {
      EXPECT_EQ(port.name(), "B");
    }
    if (!op.messages.empty()) {
      EXPECT_EQ(op.messages[0].icon, Icon::Warning);
      EXPECT_EQ(op.messages[0].detail.rfind(c.detail, 0), 0u) << op.messages[0].detail;
    }
  }
}

TEST_F(OpenSelectedPort, PortThatFailedToConfigureCanBeOpenedAgain) {
  listPorts({"A"});
  port.unconfigurable = {"A"};
  ASSERT_EQ(openSelectedPort(link, op, true), PortOpening::Failed);
  EXPECT_EQ(port.closes, 1);
  port.unconfigurable.clear();
  EXPECT_EQ(openSelectedPort(link, op, true), PortOpening::Opened);
  EXPECT_TRUE(port.isOpen());
}

TEST_F(OpenSelectedPort, ClosesThePreviousPortFirst) {
  listPorts({"A", "B"});
  ASSERT_TRUE(port.open("A"));
  link.portIndex = 1;
  EXPECT_EQ(openSelectedPort(link, op, false), PortOpening::Opened);
  EXPECT_EQ(port.closes, 1);
  EXPECT_EQ(port.name(), "B");
}

// The detail names the port, the OS's reason and what the OS layer advises.
TEST_F(OpenSelectedPort, DetailCarriesTheReasonAndTheAdvice) {
  struct Case {
    OsError refusal;
    std::vector<std::string> mentions;
  } cases[] = {
      {{13, "Permission denied", FailureCause::PermissionDenied, "Join the group."},
       {"/dev/ttyUSB0: Permission denied\nJoin the group."}},
      {{16, "Device or resource busy", FailureCause::Busy, ""},
       {"/dev/ttyUSB0: Device or resource busy"}},
  };
  listPorts({"/dev/ttyUSB0"});
  for (const auto& c : cases) {
    op.clear();
    port.openRefusal = c.refusal;
    ASSERT_EQ(openSelectedPort(link, op, false), PortOpening::Failed);
    ASSERT_EQ(op.shown(), std::vector<std::string>{"Warning: Port open error !"});
    for (const auto& m : c.mentions)
      EXPECT_NE(op.messages[0].detail.find(m), std::string::npos) << m;
  }
}

}  // namespace
}  // namespace morva::testing
