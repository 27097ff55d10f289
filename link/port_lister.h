// The machine's serial ports, as the OS lists them; the OS layer implements it.
#pragma once

#include <string>
#include <vector>

namespace morva {

// The machine's serial ports, by the names the platform opens them with, in any order.
class PortLister {
 public:
  virtual ~PortLister() = default;
  virtual std::vector<std::string> listPorts() = 0;
};

// For a run that uses only the ports it was given: the machine's are not looked at.
class NoPortLister : public PortLister {
 public:
  std::vector<std::string> listPorts() override { return {}; }
};

}  // namespace morva
