// The command line of vk350-sim.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/simulator.h"

namespace morva::sim {

struct ProgramOptions {
  SimulatorOptions simulator;  // its trace sink is left empty; the program supplies one
  bool trace = false;
  std::string linkPath;  // also reach the port through this symlink
  bool help = false;
  bool version = false;
};

// Reads "MAJOR.MINOR" (each 0 to 255, minor in decimal: "2.05" is 2 and 5, "1.10" is 1 and 10).
std::optional<std::pair<std::uint8_t, std::uint8_t>> parseVersion(std::string_view text);

// Reads the arguments after the program name. nullopt, with `error` saying why, when they are
// not understood.
std::optional<ProgramOptions> parseProgramOptions(std::span<const std::string_view> args,
                                                  std::string& error);

std::string programUsage();

}  // namespace morva::sim
