// The machine's serial ports, read from sysfs, named by the device paths they are opened with.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "link/port_lister.h"

namespace morva {

// Lists ttyUSB*, ttyACM*, ttyAMA* and rfcomm* devices, and ttyS* only where a UART is really
// there: the ttyS must have a `device` link, and its `type` must not read 0 (no UART found);
// where the kernel gives no `type`, its device's driver must not be the "serial8250"
// placeholder that registers ports whether or not hardware exists. The ports named in
// class/tty/console/active are left out: the system console must never be probed. Unsorted.
class PosixPortLister : public PortLister {
 public:
  // `sysfsRoot` is where sysfs is mounted; `devicePrefix` is put before each tty name to make
  // the path a port is opened by. Tests pass a fake tree and prefix.
  explicit PosixPortLister(std::filesystem::path sysfsRoot = "/sys",
                           std::string devicePrefix = "/dev/");

  std::vector<std::string> listPorts() override;

 private:
  bool isSerialPort(const std::string& name) const;
  bool hasUart(const std::filesystem::path& tty) const;
  std::vector<std::string> consoleNames() const;

  std::filesystem::path ttyClass_;
  std::string devicePrefix_;
};

}  // namespace morva
