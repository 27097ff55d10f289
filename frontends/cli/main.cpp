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
// folder and held by one run at a time.
class SimulatedDevice {
 public:
  std::string start(bool reset) {
    sim::SimulatorOptions options;
    std::string why;
    if (const auto folder = userStateFolder(why)) {
      const std::filesystem::path lock = *folder / "simulated-vk350.lock";
      OsError error;
      held_ = HeldFile::take(lock, error);
      if (!held_ && error.cause == FailureCause::Busy)
        throw std::runtime_error("the simulated Vk350 is in use by another run (" + lock.string() +
                                 ")");
      if (!held_)
        throw std::runtime_error("the simulated Vk350's memory cannot be kept: " +
                                 describeFailure(lock.string(), error));
      options.memoryFile = memoryFile_ = (*folder / "simulated-vk350.bin").string();
      if (reset) std::filesystem::remove(options.memoryFile);
    } else {
      std::cerr << "morva-cli: the simulated Vk350's memory is not kept: " << why << '\n';
    }
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
  std::optional<HeldFile> held_;  // released after the device saved its memory
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
                         [&] { return simulated.memoryFile(); }};
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
