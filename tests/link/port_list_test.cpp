#include "tests/link/link_fixture.h"

namespace morva::testing {
namespace {

int sign(int v) {
  return (v > 0) - (v < 0);
}

TEST(ComparePortNames, OrdersCharacterByCharacterIgnoringCase) {
  struct Case {
    std::string a, b;
    int order;
  } cases[] = {
      {"COM10", "COM2", -1}, {"COM1", "COM10", -1},
      {"com1", "COM1", 0},   {"com3", "COM2", 1},
      {"a", "B", -1},        {"", "COM1", -1},
      {"COM1", "LPT1", -1},  {"/dev/ttyS1", "/dev/ttyUSB0", -1},
      {"A\xE9", "A", -1},  // compared as signed chars: a byte above 127 sorts below the end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sign(comparePortNames(c.a, c.b)), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(comparePortNames(c.b, c.a)), -c.order) << c.b << " vs " << c.a;
  }
  EXPECT_EQ(comparePortNames("COM1", "COM3"), '1' - '3');
}

struct Lister : PortLister {
  std::vector<std::string> names;
  std::vector<std::string> listPorts() override { return names; }
};

TEST(BuildPortList, MergesListedAndExtraPortsSortedWithoutDuplicates) {
  const std::string longName = "/dev/serial/by-id/usb-Adapter_USB_UART_A50285BI-if00-port0";
  struct Case {
    std::vector<std::string> listed, extra, table;
  } cases[] = {
      {{"COM2", "COM10", "COM1"}, {}, {"COM1", "COM10", "COM2"}},
      {{"/dev/ttyUSB0", "/dev/ttyS0"},
       {"/dev/pts/3", "/dev/ttyUSB0"},
       {"/dev/pts/3", "/dev/ttyS0", "/dev/ttyUSB0"}},
      {{}, {"/dev/pts/7", "", "/dev/pts/7"}, {"/dev/pts/7"}},
      {{"com1", "COM1"}, {}, {"COM1", "com1"}},  // paths differing in case are other devices
      {{"/dev/ttyS0", longName}, {}, {longName, "/dev/ttyS0"}},
      {{}, {}, {}},
  };
  for (const auto& c : cases) {
    LinkPort link;
    link.portNameTable = {"stale"};
    link.portIndex = 3;
    Lister lister;
    lister.names = c.listed;
    buildPortList(link, lister, c.extra);
    EXPECT_EQ(link.portNameTable, c.table);
    EXPECT_EQ(link.portIndex, 0);
  }
}

}  // namespace
}  // namespace morva::testing
