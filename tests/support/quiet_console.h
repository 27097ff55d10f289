// A script runs the tool: no terminal, nobody to answer, never a stop request; and the
// machine's port list as a test gives it (empty: only the ports a test names are used).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/port_lister.h"
#include "platform/console.h"
#include "transfer/operator.h"

namespace morva::testing {

struct QuietConsole : Console {
  bool inputIsTerminal() const override { return false; }
  bool errorIsTerminal() const override { return false; }
  std::optional<std::string> readLine() override { return std::nullopt; }
  bool stopRequested() const override { return false; }
};

struct ListedPorts : PortLister {
  std::vector<std::string> names;
  std::vector<std::string> listPorts() override { return names; }
};

}  // namespace morva::testing
