// Runs a program as a child process, as a shell script would: no terminal on stdin, stdout and
// stderr captured, killed when it outlives a guard. Optionally as another user (from root).
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morva::hardening {

struct ProgramResult {
  int status = -1;        // the exit status; -1 when it did not exit normally
  bool timedOut = false;  // killed by the guard
  std::string out;
  std::string err;
};

// A program's argument vector for execv, built before fork: the child of a threaded process
// may only make async-signal-safe calls. Pointers into `text` stay valid as long as it lives.
struct ArgumentVector {
  std::vector<std::string> text;
  std::vector<char*> pointers;

  ArgumentVector(const std::string& program, const std::vector<std::string>& args) : text{program} {
    text.insert(text.end(), args.begin(), args.end());
    for (auto& a : text) pointers.push_back(a.data());
    pointers.push_back(nullptr);
  }
  ArgumentVector(const ArgumentVector&) = delete;
  ArgumentVector& operator=(const ArgumentVector&) = delete;
  char** data() { return pointers.data(); }
};

// The account unprivileged runs use when the tests run as root.
inline constexpr uid_t nobodyId = 65534;

// Exit status of a child that could not become the requested user or could not start at all.
inline constexpr int childSetupFailed = 126;
inline constexpr int childExecFailed = 127;

// `interruptWhen`: the operator presses Ctrl-C once, as soon as this holds for the child
// (asked every few milliseconds).
inline ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                                std::optional<uid_t> asUser = std::nullopt,
                                std::chrono::seconds guard = std::chrono::seconds(20),
                                std::function<bool(pid_t)> interruptWhen = {}) {
  ProgramResult result;
  // Everything the child needs is prepared before fork.
  ArgumentVector argv(program, args);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0)
      _exit(childSetupFailed);
    if (asUser && (setgroups(0, nullptr) != 0 || setgid(*asUser) != 0 || setuid(*asUser) != 0))
      _exit(childSetupFailed);
    execv(program.c_str(), argv.data());
    _exit(childExecFailed);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() + guard;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int openPipes = 2;
  while (openPipes > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (interruptWhen && interruptWhen(pid)) {
      kill(pid, SIGINT);
      interruptWhen = {};
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (interruptWhen) left = std::min(left, std::chrono::milliseconds(5));
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --openPipes;
      }
    }
  }
  for (const pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

// True while `pid` waits in the kernel for the other end of a named pipe to be opened.
inline bool waitsForPipePartner(pid_t pid) {
  std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
  std::string where;
  return std::getline(wchan, where) && where == "wait_for_partner";
}

struct TerminalResult {
  int status = -1;
  bool timedOut = false;
  std::string output;  // everything the program wrote to its terminal
};

// Runs a program with a terminal of `columns` columns (and COLUMNS set to them) as its
// standard input, output and error, as a person at a terminal runs it. `watch` sees the output
// so far every few milliseconds and may act on the terminal (its master side, `master`).
inline TerminalResult runInTerminal(const std::string& program,
                                    const std::vector<std::string>& args, unsigned short columns,
                                    const std::function<void(const std::string&, int)>& watch,
                                    std::chrono::seconds guard = std::chrono::seconds(30)) {
  TerminalResult result;
  ArgumentVector argv(program, args);
  const std::string columnsText = "COLUMNS=" + std::to_string(columns);
  int master = -1, slave = -1;
  winsize size{24, columns, 0, 0};
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0 || dup2(slave, 0) < 0 ||
        dup2(slave, 1) < 0 || dup2(slave, 2) < 0 || putenv(const_cast<char*>(columnsText.c_str())))
      _exit(childSetupFailed);
    execv(program.c_str(), argv.data());
    _exit(childExecFailed);
  }
  close(slave);
  const auto deadline = std::chrono::steady_clock::now() + guard;
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 5) > 0) {
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // the program has gone: its side of the terminal is closed
      result.output.append(buffer, static_cast<std::size_t>(n));
    }
    if (watch) watch(result.output, master);
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace morva::hardening
