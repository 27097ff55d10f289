// vk350-sim: the simulated controller as a program of its own, for running the PC side
// against it by hand or from scripts.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "sim/program_options.h"
#include "sim/simulator.h"
#include "version/number.h"

namespace {

namespace fs = std::filesystem;

// A closed standard descriptor would be taken by the pseudo-terminal or the memory file, and the
// port's path or a held answer printed into it: each closed one becomes /dev/null first. (The
// simulator shares no code with the PC side, this included.)
bool fillClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return false;
    if (opened != fd) {
      const bool moved = dup2(opened, fd) == fd;
      close(opened);
      if (!moved) return false;
    }
  }
  return true;
}

// An old link of ours may be left from a run that was killed; anything else is not ours to
// replace.
bool makeLink(const std::string& link, const std::string& target, std::string& error) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(link, ec))) fs::remove(link, ec);
  if (fs::exists(fs::symlink_status(link, ec))) {
    error = link + " exists and is not a symbolic link";
    return false;
  }
  fs::create_symlink(target, link, ec);
  if (ec) error = "cannot make the link " + link + ": " + ec.message();
  return !ec;
}

void removeLink(const std::string& link, const std::string& target) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec) == target) {
    fs::remove(link, ec);
  }
}

int serve(morva::sim::ProgramOptions& options, const sigset_t& stopSignals) {
  // A script waits for this line, acts while the device owes its answer, then sends SIGUSR1.
  options.simulator.onHold = [](std::string_view what) {
    std::printf("held: %.*s\n", static_cast<int>(what.size()), what.data());
    std::fflush(stdout);
  };
  if (options.trace) {
    options.simulator.trace = [](std::string_view line) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    };
  }
  morva::sim::Simulator simulator(options.simulator);
  std::string error;
  if (!options.linkPath.empty() && !makeLink(options.linkPath, simulator.portPath(), error)) {
    std::cerr << "vk350-sim: " << error << '\n';
    return 1;
  }
  std::cout << (options.linkPath.empty() ? simulator.portPath() : options.linkPath) << std::endl;

  int signal = 0;
  while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) simulator.release();

  const bool saved = simulator.stop(&error);
  if (!options.linkPath.empty()) removeLink(options.linkPath, simulator.portPath());
  if (!saved) std::cerr << "vk350-sim: " << error << '\n';
  return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!fillClosedStandardDescriptors()) return 1;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  std::string error;
  auto options = morva::sim::parseProgramOptions(args, error);
  if (!options) {
    std::cerr << "vk350-sim: " << error << "\n\n" << morva::sim::programUsage();
    return 2;
  }
  if (options->help) {
    std::cout << morva::sim::programUsage();
    return 0;
  }
  if (options->version) {
    std::cout << "vk350-sim " << MORVA_VERSION_TEXT << '\n';
    return 0;
  }
  // Blocked before the device thread exists, so that it inherits the mask and the signals
  // reach sigwait() alone.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);   // the terminal closed: save the memory all the same
  sigaddset(&stopSignals, SIGUSR1);  // releases a held answer
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A reader of our output that went away (`| head -1`) must not end the device unsaved.
  signal(SIGPIPE, SIG_IGN);
  try {
    return serve(*options, stopSignals);
  } catch (const std::exception& e) {
    std::cerr << "vk350-sim: " << e.what() << '\n';
    return 1;
  }
}
