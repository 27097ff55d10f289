// What morva-cli does, over injected ports, terminal and streams so that tests can run it
// in-process against the simulator.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "frontends/cli/options.h"
#include "link/port_lister.h"
#include "platform/console.h"
#include "transfer/file_service.h"
#include "transfer/operator.h"
#include "transfer/serial_port.h"

namespace morva::cli {

struct Environment {
  SerialPort& port;
  PortLister& lister;
  FileService& files;
  Console& console;
  std::ostream& out;
  std::ostream& err;
  // Starts another simulated device, with a memory of its own, and returns the path of its port
  // (for --simulate).
  std::function<std::string()> startSimulator;
  // Where the simulated devices started so far keep their memories between runs. No session
  // may read into one: its device saves its memory over it as the run ends.
  std::function<std::vector<std::string>()> simulatorMemories;
  // What standard output and error are, so that no session reads the device into them.
  std::vector<FileIdentity> ownOutputs;
  // A port of the machine's kind for each further controller (--all).
  std::function<std::unique_ptr<SerialPort>()> newPort;
};

int runCli(const Options& options, Environment& env);

// The program from its command line: a refused one prints why in one line and ends with
// exitUsage; otherwise `run` does the work with the options.
int runCommandLine(const std::vector<std::string>& args, std::ostream& err,
                   const std::function<int(const Options&)>& run);

// Flushes and closes standard output as GNU tools do: when that fails (a full disk, a closed
// pipe), "morva-cli: write error: REASON" goes to `err` and the exit status is 1, whatever
// `status` was; otherwise `status`.
int closeStandardOutput(int status, std::ostream& err);

}  // namespace morva::cli
