#include "platform/posix/console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iostream>

namespace morva {
namespace {

// A signal handler can only reach a lock-free flag with static storage.
std::atomic<bool> stopFlag{false};

extern "C" void onStopSignal(int) {
  stopFlag.store(true);
}

}  // namespace

PosixConsole::PosixConsole() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool PosixConsole::inputIsTerminal() const {
  return isatty(STDIN_FILENO) == 1;
}
bool PosixConsole::errorIsTerminal() const {
  return isatty(STDERR_FILENO) == 1;
}

std::optional<std::string> PosixConsole::readLine() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

bool PosixConsole::stopRequested() const {
  return stopFlag.load();
}

int PosixConsole::errorColumns() const {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  const char* columns = std::getenv("COLUMNS");
  return columns != nullptr ? std::atoi(columns) : 0;
}

}  // namespace morva
