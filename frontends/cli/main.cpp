// morva-cli: the transfer engine from a terminal, for scripts and machines without a desktop.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "frontends/cli/cli_app.h"
#include "platform/posix/console.h"
#include "platform/posix/file_service.h"
#include "platform/posix/port_lister.h"
#include "platform/posix/serial_port.h"
#include "platform/posix/standard_descriptors.h"
#include "platform/posix/user_state.h"
#include "sim/simulator.h"

namespace {

using namespace morva;

// The simulated Vk350s of --simulate, each with its memory kept between runs in the user's
// state folder (the first in simulated-vk350.bin, the second in simulated-vk350-2.bin, ...),
// each held by one run at a time.
class SimulatedDevices {
 public:
  std::string start(bool reset) {
    sim::SimulatorOptions options;
    std::string why;
    const auto folder = userStateFolder(why);
    // A device that forgets what was written into it would make every later verification fail.
    if (!folder) throw std::runtime_error("the simulated Vk350's memory cannot be kept: " + why);
    const std::string number = devices_.empty() ? "" : "-" + std::to_string(devices_.size() + 1);
    options.memoryFile = (*folder / ("simulated-vk350" + number + ".bin")).string();
    options.startErased = reset;
    memories_.push_back(options.memoryFile);
    devices_.push_back(std::make_unique<sim::Simulator>(std::move(options)));
    return devices_.back()->portPath();
  }

  const std::vector<std::string>& memoryFiles() const { return memories_; }

  // Stops the devices and saves their memories: false, after saying why, when one failed. What
  // a later run finds there would not be what this one left in the device.
  bool finish() {
    bool saved = true;
    for (const auto& device : devices_) {
      std::string error;
      if (device->stop(&error)) continue;
      std::cerr << "morva-cli: the simulated Vk350's memory was not saved: " << error << '\n';
      saved = false;
    }
    return saved;
  }

 private:
  std::vector<std::unique_ptr<sim::Simulator>> devices_;
  std::vector<std::string> memories_;
};

}  // namespace

int main(int argc, char** argv) {
  if (!fillClosedStandardDescriptors()) return cli::exitTransferFailed;
  return cli::runCommandLine({argv + 1, argv + argc}, std::cerr, [](const cli::Options& options) {
    PosixConsole console;
    PosixSerialPort port;
    PosixPortLister lister;
    PosixFileService files;
    SimulatedDevices simulated;
    cli::Environment env{port,
                         lister,
                         files,
                         console,
                         std::cout,
                         std::cerr,
                         [&] { return simulated.start(options.simulateReset); },
                         [&] { return simulated.memoryFiles(); },
                         standardOutputIdentities(),
                         [] { return std::make_unique<PosixSerialPort>(); }};
    int status = cli::exitNoDevice;
    try {
      status = cli::runCli(options, env);
    } catch (const std::exception& e) {
      // Only the simulated device throws: no pseudo-terminal, or its memory unusable.
      std::cerr << "morva-cli: " << e.what() << '\n';
    }
    if (!simulated.finish() && status == cli::exitComplete) status = cli::exitTransferFailed;
    return cli::closeStandardOutput(status, std::cerr);
  });
}
