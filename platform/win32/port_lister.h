// The machine's serial ports as the print spooler knows them (EnumPortsA, level 1).
#pragma once

#include <string>
#include <vector>

#include "link/port_lister.h"

namespace morva {

class Win32PortLister : public PortLister {
 public:
  // `spoolerLibrary` is the module EnumPortsA is taken from at run time; tests name one that
  // does not exist.
  explicit Win32PortLister(std::string spoolerLibrary = "WINSPOOL.DRV");

  // The COM ports the spooler reports, without their trailing ':'; unsorted. When the
  // spooler cannot be asked (no library, no EnumPortsA, or the enumeration fails, as it does
  // when a port is plugged in between asking for the size and asking for the list):
  // fallbackPortNames().
  std::vector<std::string> listPorts() override;

 private:
  std::string spoolerLibrary_;
};

// The reported names that are COM ports: those beginning with exactly "COM" (upper case; the
// spooler's other ports are printers and files), each without its trailing ':'.
std::vector<std::string> comPortNames(const std::vector<std::string>& reported);

// "COM1" and "COM2", listed whether or not they exist.
std::vector<std::string> fallbackPortNames();

}  // namespace morva
