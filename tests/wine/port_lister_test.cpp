#include "platform/win32/port_lister.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace morva {
namespace {

using Names = std::vector<std::string>;

TEST(ComPortNames, KeepsExactlyTheComPortsWithoutTheirColon) {
  struct Case {
    Names reported;
    Names kept;
  };
  for (const Case& c : {
           Case{{"COM1:", "COM2:", "LPT1:", "FILE:"}, {"COM1", "COM2"}},
           Case{{"COM10:", "COM3"}, {"COM10", "COM3"}},  // a name without its colon stays
           Case{{"com1:", "Com2:", "cOM3:"}, {}},        // only upper-case "COM" counts
           Case{{"CO:", "C", "", "NE00:", "USB001"}, {}},
           Case{{}, {}},
       }) {
    EXPECT_EQ(comPortNames(c.reported), c.kept);
  }
}

TEST(Win32PortLister, MissingSpoolerGivesTheTwoUsualPorts) {
  EXPECT_EQ(Win32PortLister("MORVA-NO-SUCH-SPOOLER.DRV").listPorts(), (Names{"COM1", "COM2"}));
  // A library without EnumPortsA counts as missing too.
  EXPECT_EQ(Win32PortLister("KERNEL32.DLL").listPorts(), fallbackPortNames());
}

TEST(Win32PortLister, SpoolerListsTheComPortsOnly) {
  Names ports = Win32PortLister().listPorts();
  EXPECT_NE(std::find(ports.begin(), ports.end(), "COM1"), ports.end());
  for (const auto& name : ports) {
    EXPECT_EQ(name.rfind("COM", 0), 0u) << name;
    EXPECT_EQ(name.find(':'), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace morva
