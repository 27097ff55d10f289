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

// The simulated Vk350 of --simulate, with its memory kept between runs in the user's state
// folder, held by one run at a time.
class SimulatedDevice {
 public:
  std::string start(bool reset) {
    sim::SimulatorOptions options;
    std::string why;
    const auto folder = userStateFolder(why);
    // A device that forgets what was written into it would make every later verification fail.
    if (!folder) throw std::runtime_error("the simulated Vk350's memory cannot be kept: " + why);
    options.memoryFile = memoryFile_ = (*folder / "simulated-vk350.bin").string();
    options.startErased = reset;
    device_ = std::make_unique<sim::Simulator>(std::move(options));
    return device_->portPath();
  }

  // Empty when the memory is not kept.
  const std::string& memoryFile() const { return memoryFile_; }

  // Stops the device and saves its memory: false, after saying why, when that failed. What a
  // later run finds there would not be what this one left in the device.
  bool finish() {
    std::string error;
    if (!device_ || device_->stop(&error)) return true;
    std::cerr << "morva-cli: the simulated Vk350's memory was not saved: " << error << '\n';
    return false;
  }

 private:
  std::unique_ptr<sim::Simulator> device_;
  std::string memoryFile_;
};

}  // namespace

int main(int argc, char** argv) {
  if (!fillClosedStandardDescriptors()) return cli::exitTransferFailed;
  return cli::runCommandLine({argv + 1, argv + argc}, std::cerr, [](const cli::Options& options) {
    PosixConsole console;
    PosixSerialPort port;
    PosixPortLister lister;
    PosixFileService files;
    SimulatedDevice simulated;
    cli::Environment env{port,
                         lister,
                         files,
                         console,
                         std::cout,
                         std::cerr,
                         [&] { return simulated.start(options.simulateReset); },
                         [&] { return simulated.memoryFile(); },
                         standardOutputIdentities()};
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
