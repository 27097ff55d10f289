#include "platform/posix/port_lister.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tests/support/files.h"

namespace morva {
namespace {

namespace fs = std::filesystem;

// A sysfs tree in a temp directory with just the parts the lister reads.
class FakeSysfs {
 public:
  FakeSysfs() { fs::create_directories(ttyClass()); }
  fs::path root() const { return dir_.path(); }

  // A tty; `driver` names the driver of its device (empty: a device with none, nullopt: no
  // device link at all); `type` is the UART type file, when there is one.
  void addTty(const std::string& name, std::optional<std::string> driver = std::nullopt,
              std::optional<std::string> type = std::nullopt) {
    fs::path tty = ttyClass() / name;
    fs::create_directories(tty);
    if (driver) {
      fs::path device = root() / "devices" / name;
      fs::create_directories(device);
      if (!driver->empty())
        fs::create_directory_symlink("../../bus/drivers/" + *driver, device / "driver");
      fs::create_directory_symlink(device, tty / "device");
    }
    if (type) std::ofstream(tty / "type") << *type << "\n";
  }
  void setConsole(const std::string& active) {
    fs::create_directories(ttyClass() / "console");
    std::ofstream(ttyClass() / "console" / "active") << active << "\n";
  }

 private:
  fs::path ttyClass() const { return root() / "class" / "tty"; }
  testing::ScratchDir dir_;
};

std::vector<std::string> listSorted(const FakeSysfs& sys) {
  PosixPortLister lister(sys.root(), "/fake/dev/");
  auto ports = lister.listPorts();
  std::sort(ports.begin(), ports.end());
  return ports;
}

using Names = std::vector<std::string>;

TEST(PosixPortLister, ListsSerialDevicesAndLeavesOutEverythingElse) {
  FakeSysfs sys;
  for (auto name : {"ttyUSB0", "ttyUSB12", "ttyACM0", "ttyAMA0", "rfcomm1"})
    sys.addTty(name, "usb-serial");
  for (auto name : {"tty", "tty0", "tty63", "ptmx", "console", "ttyprintk", "ttyUSB", "ttySAC0"})
    sys.addTty(name, "other");
  EXPECT_EQ(listSorted(sys), (Names{"/fake/dev/rfcomm1", "/fake/dev/ttyACM0", "/fake/dev/ttyAMA0",
                                    "/fake/dev/ttyUSB0", "/fake/dev/ttyUSB12"}));
}

TEST(PosixPortLister, ListsTtySOnlyWhereAUartAnswered) {
  struct Case {
    const char* what;
    std::optional<std::string> driver;
    std::optional<std::string> type;
    bool listed;
  } cases[] = {
      {"16550A found", "port", "4", true},
      {"no UART at the address", "port", "0", false},
      {"no device link", std::nullopt, "4", false},
      {"older kernel, placeholder driver", "serial8250", std::nullopt, false},
      {"older kernel, probed by its bus", "serial", std::nullopt, true},
      {"older kernel, no driver bound", "", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSysfs sys;
    sys.addTty("ttyS3", c.driver, c.type);
    EXPECT_EQ(listSorted(sys), c.listed ? Names{"/fake/dev/ttyS3"} : Names{});
  }
}

TEST(PosixPortLister, NeverListsTheSystemConsole) {
  struct Case {
    std::string active;
    Names expected;
  } cases[] = {
      {"ttyS0", {"/fake/dev/ttyS1", "/fake/dev/ttyUSB0"}},
      {"tty0 ttyS0", {"/fake/dev/ttyS1", "/fake/dev/ttyUSB0"}},
      {"ttyUSB0", {"/fake/dev/ttyS0", "/fake/dev/ttyS1"}},
      {"tty0", {"/fake/dev/ttyS0", "/fake/dev/ttyS1", "/fake/dev/ttyUSB0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.active);
    FakeSysfs sys;
    sys.addTty("ttyS0", "port", "4");
    sys.addTty("ttyS1", "port", "4");
    sys.addTty("ttyUSB0", "ftdi_sio");
    sys.setConsole(c.active);
    EXPECT_EQ(listSorted(sys), c.expected);
  }
}

TEST(PosixPortLister, MissingSysfsListsNothing) {
  PosixPortLister lister("/nonexistent/sysfs", "/dev/");
  EXPECT_TRUE(lister.listPorts().empty());
}

}  // namespace
}  // namespace morva
