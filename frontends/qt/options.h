// The desktop program's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morva::qt {

struct GuiOptions {
  std::vector<std::string> ports;  // --port PATH: ports the machine's list cannot show
  bool simulate = false;           // --simulate: a simulated Vk350 on a pseudo-terminal
  std::string screenshot;          // --screenshot FILE: render a transfer to a PNG and end
  std::string log;                 // --log FILE: a record of every session appended here
  bool help = false;
  bool version = false;
};

struct GuiParse {
  std::optional<GuiOptions> options;
  std::string error;
};

// The arguments after the program name, Qt's own already taken out.
GuiParse parseGuiOptions(const std::vector<std::string>& args);
std::string guiUsageText();

}  // namespace morva::qt
