// morva-cli: the transfer engine from a terminal, for scripts and machines without a desktop.
#include <iostream>
#include <memory>

#include "frontends/cli/cli_app.h"
#include "platform/posix/console.h"
#include "platform/posix/file_service.h"
#include "platform/posix/port_lister.h"
#include "platform/posix/serial_port.h"
#include "sim/simulator.h"

int main(int argc, char** argv) {
  using namespace morva;
  std::vector<std::string> args(argv + 1, argv + argc);
  cli::ParseResult parsed = cli::parseOptions(args);
  if (!parsed.options) {
    std::cerr << "morva-cli: " << parsed.error << "\n\n" << cli::usageText();
    return cli::exitUsage;
  }
  PosixConsole console;
  PosixSerialPort port;
  PosixPortLister lister;
  PosixFileService files;
  std::unique_ptr<sim::Simulator> simulator;
  cli::Environment env{port, lister, files, console, std::cout, std::cerr, [&] {
                         simulator = std::make_unique<sim::Simulator>();
                         return simulator->portPath();
                       }};
  int status = cli::exitNoDevice;
  try {
    status = cli::runCli(*parsed.options, env);
  } catch (const std::exception& e) {
    // Only the simulator throws: it could not get a pseudo-terminal.
    std::cerr << "morva-cli: " << e.what() << '\n';
  }
  return cli::closeStandardOutput(status, std::cerr);
}
