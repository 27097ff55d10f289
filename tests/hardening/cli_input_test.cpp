// Bad input to the morva-cli program itself, run as a child process the way a script runs it:
// every case ends with a clear message and its documented exit status, and nothing is written
// where nothing should be. Ports are the simulator's pty or --simulate, never a real port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "platform/posix/serial_port.h"
#include "platform/posix/user_state.h"
#include "sim/simulator.h"
#include "tests/hardening/child_process.h"
#include "tests/hardening/harness.h"

namespace morva::hardening {
namespace {

constexpr std::size_t block = 256;
constexpr std::size_t programBlocks = 512;

constexpr int exitComplete = 0;
constexpr int exitTransferFailed = 1;
constexpr int exitUsage = 2;
constexpr int exitNoDevice = 3;
constexpr int exitNotStarted = 4;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every name under `root`, to see that a failed run created nothing.
std::vector<std::string> treeOf(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

class CliProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    // --simulate keeps its device's memory here, not in the user's own state folder.
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    memory = randomBytes(sim::MemoryImage::byteCount, 41);
    device = std::make_unique<sim::Simulator>();
    device->memory().assign(memory);
  }

  // morva-cli ARGS --port <the simulator> [--yes] -q
  ProgramResult run(std::vector<std::string> args, bool yes = false) {
    args.insert(args.end(), {"--port", device->portPath(), "-q"});
    if (yes) args.push_back("--yes");
    return runProgram(MORVA_CLI_PROGRAM, args);
  }

  ScratchDir dir;
  std::vector<std::uint8_t> memory;
  std::unique_ptr<sim::Simulator> device;
};

std::string explain(const ProgramResult& r) {
  return "status " + std::to_string(r.status) + (r.timedOut ? " (hung, killed)" : "") +
         "\nstderr:\n" + r.err + "stdout:\n" + r.out;
}

// A folder, a named pipe (no writer: its read would wait for ever) or a device that never ends
// (/dev/zero) is no file to send or read into: refused with the path and the reason on the
// next line, before the device is woken, and left as it was.
TEST_F(CliProgram, WhatIsNotAFileIsRefusedWithItsReasonAndLeftAlone) {
  fs::create_directory(dir / "images.upg");
  writeFile(dir / "images.upg" / "inside", {1, 2, 3});
  ASSERT_EQ(mkfifo((dir / "pipe.upg").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir / "zero.upg");
  const auto before = treeOf(dir.path());
  struct Row {
    const char* name;
    std::vector<const char*> directions;
    const char* reason;
  };
  const Row rows[] = {{"images.upg", {"write", "verify", "read"}, "a folder, not a file"},
                      {"pipe.upg", {"write", "verify"}, "a pipe or a device, not a file"},
                      {"zero.upg", {"write", "verify"}, "a pipe or a device, not a file"}};
  for (const Row& row : rows) {
    for (const char* direction : row.directions) {
      SCOPED_TRACE(std::string(direction) + " " + row.name);
      const fs::path path = dir / row.name;
      const ProgramResult r = run({direction, "program", path}, true);
      EXPECT_EQ(r.status, exitNotStarted) << explain(r);
      EXPECT_TRUE(
          contains(r.err, "Fail: File open error !\n" + path.string() + ": " + row.reason + "\n"))
          << explain(r);
    }
  }
  EXPECT_EQ(treeOf(dir.path()), before);
  EXPECT_EQ(readFile(dir / "images.upg" / "inside"), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(device->stats().wakeUps, 0u) << "the device was woken for a file that cannot serve";
}

// A file size limit cuts the target in the middle of block 10: the read fails, and the file
// ends at the last whole block received.
TEST_F(CliProgram, ATargetWriteThatFailsPartWayLeavesOnlyWholeBlocks) {
  const fs::path target = dir / "limited.upg";
  const ProgramResult r = runProgram(
      "/usr/bin/prlimit", {"--fsize=" + std::to_string(10 * block + 100), MORVA_CLI_PROGRAM, "read",
                           "program", target, "--port", device->portPath(), "-q"});
  EXPECT_EQ(r.status, exitTransferFailed) << explain(r);
  EXPECT_TRUE(contains(r.err, "Fail: File write error !\n")) << explain(r);
  EXPECT_EQ(readFile(target), slice(memory, 0, 10 * block));
}

// As with GNU tools, output that cannot be written is a failed run, not a quiet success.
TEST_F(CliProgram, StandardOutputThatCannotBeWrittenFailsTheRun) {
  const ProgramResult r = runProgram(
      "/bin/sh",
      {"-c", "exec \"$0\" detect --port \"$1\" >/dev/full", MORVA_CLI_PROGRAM, device->portPath()});
  EXPECT_EQ(r.status, exitTransferFailed) << explain(r);
  EXPECT_TRUE(contains(r.err, "morva-cli: write error: No space left on device\n")) << explain(r);
}

TEST_F(CliProgram, APathInAMissingDirectoryCreatesNothing) {
  const fs::path missing = dir / "no-such-dir" / "fw.upg";
  const ProgramResult write = run({"write", "program", missing});
  EXPECT_EQ(write.status, exitNotStarted) << explain(write);
  EXPECT_TRUE(contains(write.err, "Warning: File " + missing.string() + " doesn't exist !\n"))
      << explain(write);
  const ProgramResult verify = run({"verify", "program", missing});
  EXPECT_EQ(verify.status, exitNotStarted) << explain(verify);
  const ProgramResult read = run({"read", "program", missing}, true);
  EXPECT_EQ(read.status, exitNotStarted) << explain(read);
  EXPECT_TRUE(contains(
      read.err, "Fail: File open error !\n" + missing.string() + ": No such file or directory\n"))
      << explain(read);
  EXPECT_FALSE(fs::exists(dir / "no-such-dir"));
  EXPECT_EQ(device->stats().wakeUps, 0u);
}

// Paths longer than the system takes (4096 bytes in all, 255 for one name) fail like any
// other path that cannot be opened, with the name in full.
TEST_F(CliProgram, OverlongPathsFailCleanly) {
  std::string longPath = dir.path().string();
  while (longPath.size() <= 4200) longPath += "/" + std::string(200, 'd');
  longPath += "/fw.upg";
  const std::string longName = (dir / (std::string(300, 'n') + ".upg")).string();
  for (const std::string& path : {longPath, longName}) {
    SCOPED_TRACE(path.size());
    const ProgramResult write = run({"write", "program", path});
    EXPECT_EQ(write.status, exitNotStarted) << explain(write);
    EXPECT_TRUE(contains(write.err, "Warning: File " + path + " doesn't exist !\n"))
        << explain(write);
    const ProgramResult read = run({"read", "program", path}, true);
    EXPECT_EQ(read.status, exitNotStarted) << explain(read);
    EXPECT_TRUE(contains(read.err, "Fail: File open error !\n")) << explain(read);
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(CliProgram, NamesWithSpacesAndNonAsciiLettersWork) {
  const fs::path source = dir / "Mein Gerät – Sicherung 1.upg";
  const auto image = randomBytes(3 * block + 17, 42);
  writeFile(source, image);
  const ProgramResult write = run({"write", "program", source});
  ASSERT_EQ(write.status, exitComplete) << explain(write);
  auto padded = image;
  padded.resize(4 * block, 0);
  EXPECT_EQ(slice(device->memory().snapshot(), 0, 4 * block), padded);

  const ProgramResult verify = run({"verify", "program", source});
  EXPECT_EQ(verify.status, exitComplete) << explain(verify);

  const fs::path target = dir / "lecture été 日本 x.lib";
  const ProgramResult read = run({"read", "libraries", target});
  ASSERT_EQ(read.status, exitComplete) << explain(read);
  EXPECT_EQ(readFile(target), slice(device->memory().snapshot(), 512 * block, 384 * block));
}

TEST_F(CliProgram, AReadIntoAFullDeviceReportsTheWriteError) {
  // The extension rule wants ".upg": reach /dev/full through a link of that name.
  fs::create_symlink("/dev/full", dir / "full.upg");
  const ProgramResult r = run({"read", "program", dir / "full.upg"}, true);
  EXPECT_EQ(r.status, exitTransferFailed) << explain(r);
  EXPECT_TRUE(contains(r.err, "Fail: File write error !\n")) << explain(r);
  EXPECT_FALSE(contains(r.err, "Done")) << explain(r);
}

// Ctrl-C in the middle of a read, while the device holds back block 5: the program stops at
// once, says so, and the five blocks that arrived are in the file at their offsets.
TEST_F(CliProgram, CtrlCStopsAReadAndKeepsTheBlocksReceived) {
  device->setFaults({*sim::parseFault("hold@data:5/once")});
  const ProgramResult r = runProgram(
      MORVA_CLI_PROGRAM, {"read", "program", dir / "part.upg", "--port", device->portPath(), "-q"},
      std::nullopt, std::chrono::seconds(20), [&](pid_t) { return device->holdsReached() > 0; });
  EXPECT_EQ(r.status, 130) << explain(r);
  EXPECT_TRUE(
      contains(r.err, "Stopped.\n" + (dir / "part.upg").string() + " holds 5 whole blocks.\n"))
      << explain(r);
  EXPECT_EQ(readFile(dir / "part.upg"), slice(memory, 0, 5 * block));
}

// A named pipe as the read target streams the image to whoever reads it.
TEST_F(CliProgram, AReadIntoANamedPipeStreamsTheImageToItsReader) {
  const fs::path pipe = dir / "stream.upg";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::vector<std::uint8_t> streamed;
  std::thread reader([&] {
    // Non-blocking, so that a program that never opens the pipe cannot hang the test; a pipe
    // reports its hang-up only once a writer has come and gone.
    const int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fd >= 0 && std::chrono::steady_clock::now() < guard) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      std::uint8_t chunk[4096];
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n > 0) streamed.insert(streamed.end(), chunk, chunk + n);
      if (n == 0) break;
    }
    if (fd >= 0) close(fd);
  });
  const ProgramResult r = run({"read", "program", pipe}, true);
  reader.join();
  EXPECT_EQ(r.status, exitComplete) << explain(r);
  EXPECT_EQ(streamed, slice(memory, 0, programBlocks * block));
}

// A pipe target is opened for writing only: the open waits for a reader, and one Ctrl-C ends
// that wait (opened read-write, the program would be its own reader and hang once the pipe
// is full, each Ctrl-C failing only one of the write's 20 attempts).
TEST_F(CliProgram, ANamedPipeNobodyReadsGivesWayToOneCtrlC) {
  const fs::path pipe = dir / "nobody.upg";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const ProgramResult r = runProgram(
      MORVA_CLI_PROGRAM, {"read", "program", pipe, "--port", device->portPath(), "-q", "--yes"},
      std::nullopt, std::chrono::seconds(20), waitsForPipePartner);
  EXPECT_FALSE(r.timedOut) << explain(r);
  EXPECT_EQ(r.status, 130) << explain(r);
  EXPECT_TRUE(contains(r.err, "Stopped.\n")) << explain(r);
}

TEST_F(CliProgram, APortThatCannotBeUsedIsNamedWithItsReason) {
  struct PortCase {
    std::string port;
    std::string message;
    std::string reason;
  };
  const std::vector<PortCase> cases = {
      {(dir / "no-such-tty").string(), "Warning: Port open error !\n", "No such file or directory"},
      {"/dev/null", "Warning: Port configuration error !\n", "Inappropriate ioctl for device"},
      {dir.path().string(), "Warning: Port open error !\n", "Is a directory"},
  };
  const std::vector<std::uint8_t> old{9, 8, 7};
  writeFile(dir / "old.upg", old);
  for (const PortCase& c : cases) {
    SCOPED_TRACE(c.port);
    for (const std::string target : {"old.upg", "new.upg"}) {
      const ProgramResult r = runProgram(
          MORVA_CLI_PROGRAM, {"read", "program", dir / target, "--port", c.port, "--yes"});
      EXPECT_EQ(r.status, exitNoDevice) << explain(r);
      EXPECT_TRUE(contains(r.err, c.message)) << explain(r);
      EXPECT_TRUE(contains(r.err, c.port + ": " + c.reason)) << explain(r);
      EXPECT_TRUE(contains(r.err, "A problem : Vk350 not found !\n")) << explain(r);
    }
    EXPECT_EQ(readFile(dir / "old.upg"), old);
    EXPECT_FALSE(fs::exists(dir / "new.upg"));
  }
}

TEST_F(CliProgram, APortHeldByAnotherProgramIsReportedBusyUntilItIsLetGo) {
  writeFile(dir / "fw.upg", randomBytes(2 * block, 43));
  auto holder = std::make_unique<PosixSerialPort>();
  ASSERT_TRUE(holder->open(device->portPath())) << holder->lastError().text;
  const ProgramResult busy = run({"write", "program", dir / "fw.upg"});
  EXPECT_EQ(busy.status, exitNoDevice) << explain(busy);
  EXPECT_TRUE(contains(busy.err, "Warning: Port open error !\n")) << explain(busy);
  EXPECT_TRUE(contains(busy.err, "Another program is using the port")) << explain(busy);
  EXPECT_EQ(device->stats().wakeUps, 0u);

  holder.reset();
  const ProgramResult free = run({"write", "program", dir / "fw.upg"});
  EXPECT_EQ(free.status, exitComplete) << explain(free);
}

// Without read permission (as root, the run switches to nobody, and the device is simulated
// inside that run because nobody may not open root's pty). The program runs from a copy in the
// test's own folder: the checkout may lie where nobody cannot reach it.
TEST_F(CliProgram, AFileThatMayNotBeOpenedIsRefusedAndLeftAlone) {
  std::optional<uid_t> user;
  if (geteuid() == 0) user = nobodyId;
  const auto everyoneMayEnter = fs::perms::owner_all | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec;
  fs::permissions(dir.path(), everyoneMayEnter);
  const fs::path program = dir / "morva-cli";
  fs::copy_file(MORVA_CLI_PROGRAM, program);
  fs::permissions(program, everyoneMayEnter);
  const auto secret = randomBytes(2 * block, 44);
  writeFile(dir / "secret.upg", secret);
  fs::permissions(dir / "secret.upg",
                  user ? fs::perms::owner_read | fs::perms::owner_write : fs::perms::none);
  // A read target that nobody may write, though its permissions are not read-only.
  writeFile(dir / "theirs.upg", secret);
  fs::permissions(dir / "theirs.upg", user ? fs::perms::owner_read | fs::perms::owner_write |
                                                 fs::perms::group_read | fs::perms::others_read
                                           : fs::perms::owner_write);

  // The simulated device keeps its memory where that user may write.
  fs::create_directory(dir / "open-state");
  fs::permissions(dir / "open-state", fs::perms::all);
  setenv("XDG_STATE_HOME", (dir / "open-state").c_str(), 1);
  auto runAs = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--simulate", "-q", "--yes"});
    return runProgram(program, args, user);
  };
  const ProgramResult probe = runAs({"--version"});
  if (probe.status == childSetupFailed)
    GTEST_SKIP() << "cannot run the program as an unprivileged user here";
  ASSERT_EQ(probe.status, exitComplete) << explain(probe);

  for (const char* direction : {"write", "verify"}) {
    SCOPED_TRACE(direction);
    const ProgramResult r = runAs({direction, "program", dir / "secret.upg"});
    EXPECT_EQ(r.status, exitNotStarted) << explain(r);
    EXPECT_TRUE(contains(r.err, "Fail: File open error !\n")) << explain(r);
    EXPECT_FALSE(contains(r.err, "dialout")) << "advice for ports, not files: " << explain(r);
  }
  const ProgramResult read = runAs({"read", "program", dir / "theirs.upg"});
  EXPECT_EQ(read.status, exitNotStarted) << explain(read);
  EXPECT_TRUE(contains(read.err, "Fail: File open error !\n")) << explain(read);
  EXPECT_FALSE(contains(read.err, "dialout")) << explain(read);

  fs::permissions(dir / "secret.upg", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir / "theirs.upg", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(readFile(dir / "secret.upg"), secret);
  EXPECT_EQ(readFile(dir / "theirs.upg"), secret);
}

// A refused command line says what was wrong in one line, and where to read more.
TEST_F(CliProgram, BadCommandLinesSayWhatIsWrongAndTouchNothing) {
  const std::string file = (dir / "x.upg").string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> lines = {
      {{"read", "program", file, "--frobnicate"}, "unknown option '--frobnicate'"},
      {{"read", "program", file, "-x"}, "unknown option '-x'"},
      {{"read", "firmware", file}, "unknown kind 'firmware'"},
      {{"read", "program"}, "read program needs a FILE"},
      {{"write", "program", file, "extra"}, "unexpected argument 'extra'"},
      {{"read", "program", ""}, "FILE must not be empty"},
      {{"read", "program", file, "--port"}, "option --port needs a value"},
      {{"read", "program", file, "--verify"}, "--verify goes with write only"},
      {{"fetch", "program", file}, "unknown command 'fetch'"},
      {{}, "no command given"},
  };
  for (const auto& [line, reason] : lines) {
    SCOPED_TRACE(reason);
    const ProgramResult r = runProgram(MORVA_CLI_PROGRAM, line);
    EXPECT_EQ(r.status, exitUsage) << explain(r);
    EXPECT_EQ(r.err, "morva-cli: " + reason + "\nTry 'morva-cli --help'.\n") << explain(r);
    EXPECT_TRUE(r.out.empty()) << explain(r);
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
  EXPECT_EQ(device->stats().wakeUps, 0u);
}

// Every program tells its version, and the desktop program its usage, without a display.
TEST(Programs, TellTheirVersionWithoutADisplay) {
  std::vector<std::pair<std::string, std::string>> programs = {{MORVA_CLI_PROGRAM, "morva-cli "},
                                                               {MORVA_SIM_PROGRAM, "vk350-sim "}};
#ifdef MORVA_GUI_PROGRAM
  programs.emplace_back(MORVA_GUI_PROGRAM, "morva ");
#endif
  const std::optional<std::string> platform =
      getenv("QT_QPA_PLATFORM") ? std::optional(getenv("QT_QPA_PLATFORM")) : std::nullopt;
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  for (const auto& [program, name] : programs) {
    const ProgramResult version = runProgram(program, {"--version"});
    EXPECT_EQ(version.status, exitComplete) << explain(version);
    EXPECT_EQ(version.out.rfind(name, 0), 0u) << explain(version);
    EXPECT_EQ(runProgram(program, {"--help"}).status, exitComplete) << program;
  }
  if (platform) setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
}

// At a terminal of 80 columns the progress is one line redrawn in place, never wider than the
// terminal; made narrower mid-way (while the device holds a block back), it follows.
TEST_F(CliProgram, TheProgressFitsTheTerminalAndFollowsItsWidth) {
  device->setFaults({*sim::parseFault("hold@data:1000/once")});
  std::size_t narrowFrom = std::string::npos;
  const TerminalResult r = runInTerminal(
      MORVA_CLI_PROGRAM, {"read", "user", dir / "u.usr", "--port", device->portPath()}, 80,
      [&](const std::string& output, int master) {
        if (narrowFrom != std::string::npos || device->holdsReached() == 0) return;
        winsize narrow{24, 40, 0, 0};
        ioctl(master, TIOCSWINSZ, &narrow);
        narrowFrom = output.size();
        device->release();
      });
  ASSERT_EQ(r.status, exitComplete) << r.output;
  ASSERT_NE(narrowFrom, std::string::npos);
  std::size_t lines = 0, from = 0;
  for (std::size_t at = 0; at <= r.output.size(); ++at) {
    if (at < r.output.size() && r.output[at] != '\r' && r.output[at] != '\n') continue;
    std::string line = r.output.substr(from, at - from);
    if (const auto erase = line.find("\x1b[K"); erase != std::string::npos) line.erase(erase);
    if (line.find(" blocks") != std::string::npos) {  // a progress line; messages may wrap
      EXPECT_LE(line.size(), from >= narrowFrom ? 39u : 79u) << line;
    }
    if (at < r.output.size() && r.output[at] == '\n') ++lines;
    from = at + 1;
  }
  EXPECT_LE(lines, 3u) << "the progress wrapped or scrolled:\n" << r.output;
}

// Past the tenth difference the note that the rest are only counted starts a line of its
// own, though the progress was redrawn since (the device answers a block late in between).
TEST_F(CliProgram, TheNoteOnUnshownDifferencesIsNotGluedToTheProgress) {
  auto image = slice(memory, 0, 32 * block);
  for (std::size_t b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 30}) image[b * block] ^= 0xFF;
  writeFile(dir / "p.upg", image);
  device->setFaults({*sim::parseFault("late@data:20=150")});
  const TerminalResult r =
      runInTerminal(MORVA_CLI_PROGRAM,
                    {"verify", "program", dir / "p.upg", "--port", device->portPath(), "--yes"}, 80,
                    [](const std::string&, int) {});
  EXPECT_EQ(r.status, exitTransferFailed) << r.output;
  const std::size_t note = r.output.find("(further differences are counted, not shown)");
  ASSERT_NE(note, std::string::npos) << r.output;
  EXPECT_EQ(r.output[note - 1], '\n') << r.output;
}

// --simulate keeps the simulated device's memory between runs, one run at a time;
// --simulate-reset starts it empty; `ports --simulate` lists its port.
TEST_F(CliProgram, TheSimulatedDeviceRemembersBetweenRuns) {
  const std::string fw = writeFile(dir / "fw.upg", randomBytes(2 * block, 45));
  auto simulated = [&](std::vector<std::string> args) {
    args.push_back("-q");
    return runProgram(MORVA_CLI_PROGRAM, args);
  };
  EXPECT_EQ(simulated({"write", "program", fw, "--simulate"}).status, exitComplete);
  EXPECT_EQ(simulated({"verify", "program", fw, "--simulate"}).status, exitComplete);
  // A run refused before its device starts resets nothing.
  EXPECT_EQ(simulated({"verify", "program", dir / "none.upg", "--simulate-reset"}).status,
            exitNotStarted);
  EXPECT_EQ(simulated({"verify", "program", fw, "--simulate"}).status, exitComplete);
  EXPECT_EQ(simulated({"verify", "program", fw, "--simulate-reset"}).status, exitTransferFailed);
  const ProgramResult ports = runProgram(MORVA_CLI_PROGRAM, {"ports", "--simulate"});
  EXPECT_EQ(ports.status, exitComplete);
  EXPECT_EQ(ports.out.rfind("Simulated Vk350 (/dev/pts/", 0), 0u) << explain(ports);

  OsError error;
  const auto held = HeldFile::take(dir / "state" / "morva" / "simulated-vk350.bin.lock", error);
  ASSERT_TRUE(held) << error.text;
  const ProgramResult busy = simulated({"verify", "program", fw, "--simulate"});
  EXPECT_EQ(busy.status, exitNoDevice);
  EXPECT_TRUE(contains(busy.err, "is in use by another simulated Vk350")) << explain(busy);
}

}  // namespace
}  // namespace morva::hardening
