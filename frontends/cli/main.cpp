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
      OsError error;
      held_ = HeldFile::take(*folder / "simulated-vk350.lock", error);
      if (!held_)
        throw std::runtime_error("the simulated Vk350 is in use by another run (" +
                                 (*folder / "simulated-vk350.lock").string() + ": " + error.text +
                                 ")");
      options.memoryFile = (*folder / "simulated-vk350.bin").string();
      if (reset) std::filesystem::remove(options.memoryFile);
    } else {
      std::cerr << "morva-cli: the simulated Vk350's memory is not kept: " << why << '\n';
    }
    device_ = std::make_unique<sim::Simulator>(std::move(options));
    return device_->portPath();
  }

  ~SimulatedDevice() {
    std::string error;
    if (device_ && !device_->stop(&error))
      std::cerr << "morva-cli: the simulated Vk350's memory was not saved: " << error << '\n';
  }

 private:
  std::optional<HeldFile> held_;  // released after the device saved its memory
  std::unique_ptr<sim::Simulator> device_;
};

}  // namespace

int main(int argc, char** argv) {
  return cli::runCommandLine({argv + 1, argv + argc}, std::cerr, [](const cli::Options& options) {
    PosixConsole console;
    PosixSerialPort port;
    PosixPortLister lister;
    PosixFileService files;
    SimulatedDevice simulated;
    cli::Environment env{port, lister, files, console, std::cout, std::cerr, [&] {
                           return simulated.start(options.simulateReset);
                         }};
    int status = cli::exitNoDevice;
    try {
      status = cli::runCli(options, env);
    } catch (const std::exception& e) {
      // Only the simulated device throws: no pseudo-terminal, or its memory unusable.
      std::cerr << "morva-cli: " << e.what() << '\n';
    }
    return cli::closeStandardOutput(status, std::cerr);
  });
}
