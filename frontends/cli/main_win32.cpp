// morva-cli for Windows: the transfer engine from a console, over the machine's COM ports.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "frontends/cli/cli_app.h"
#include "platform/win32/console.h"
#include "platform/win32/file_service.h"
#include "platform/win32/port_lister.h"
#include "platform/win32/serial_port.h"

int main(int argc, char** argv) {
  using namespace morva;
  return cli::runCommandLine({argv + 1, argv + argc}, std::cerr, [](const cli::Options& options) {
    if (options.simulate) {
      // The simulated device lives on a POSIX pseudo-terminal, which Windows does not have.
      std::cerr << cli::usageError(
          "--simulate is not available on Windows: run vk350-sim on a "
          "Linux machine, or name the Vk350's port with --port COMn");
      return cli::exitUsage;
    }
    Win32Console console;
    Win32SerialPort port;
    Win32PortLister lister;
    Win32FileService files;
    cli::Environment env{port,
                         lister,
                         files,
                         console,
                         std::cout,
                         std::cerr,
                         [] { return std::string(); },
                         {},
                         standardOutputIdentities(),
                         [] { return std::make_unique<Win32SerialPort>(); }};
    return cli::closeStandardOutput(cli::runCli(options, env), std::cerr);
  });
}
