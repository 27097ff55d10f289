// What a person hands the programs — a backup's name, closed standard descriptors, paths through
// links, memory and state files, full and read-only file systems — never costs data and never
// ends as a success that was not one. Each row names what it gives and how the run ends, and
// checks that nothing else changed: every file in the test's folder, the device's memory and
// the bytes the device received (none before a refusal).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <thread>

#include "sim/simulator.h"
#include "tests/hardening/child_process.h"
#include "tests/hardening/harness.h"
#include "tests/support/quiet_console.h"

namespace morva::hardening {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t block = 256;
constexpr std::size_t programBytes = 512 * block;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string explain(const ProgramResult& r) {
  return "status " + std::to_string(r.status) + (r.timedOut ? " (hung, killed)" : "") +
         "\nstderr:\n" + r.err + "stdout:\n" + r.out;
}

// What a run could change: the folder's files (content, a link's target, or a kind), the
// device's memory, and how many bytes reached the device.
struct World {
  std::map<std::string, std::string> files;
  Bytes memory;
  unsigned bytesReceived = 0;
};

World observe(const fs::path& root, const sim::Simulator* device) {
  World world;
  std::error_code error;  // a loop of links must not end the walk
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().lexically_relative(root).string();
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      world.files[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (fs::is_regular_file(status)) {
      const Bytes content = readFile(entry.path());
      world.files[name] = std::string(content.begin(), content.end());
    } else {
      world.files[name] = "kind " + std::to_string(static_cast<int>(status.type()));
    }
  }
  if (device != nullptr) {
    world.memory = device->memory().snapshot();
    world.bytesReceived = device->stats().bytesReceived;
  }
  return world;
}

// What differs between two observations, but for the files named in `changing`; empty when
// nothing else changed.
std::string changes(const World& before, const World& after,
                    const std::vector<std::string>& changing = {}) {
  std::string said;
  auto keys = before.files;
  keys.insert(after.files.begin(), after.files.end());
  for (const auto& [name, ignored] : keys) {
    if (std::find(changing.begin(), changing.end(), name) != changing.end()) continue;
    const auto was = before.files.find(name), is = after.files.find(name);
    if (was == before.files.end())
      said += "created " + name + "\n";
    else if (is == after.files.end())
      said += "removed " + name + "\n";
    else if (was->second != is->second)
      said += "changed " + name + "\n";
  }
  if (before.memory != after.memory) said += "the device's memory changed\n";
  if (before.bytesReceived != after.bytesReceived)
    said += "the device received " + std::to_string(after.bytesReceived - before.bytesReceived) +
            " bytes\n";
  return said;
}

class UserInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    device->memory().assign(oldImage);
    writeFile(dir / "new.upg", newImage);
  }

  // morva-cli ARGS --port <the simulator> -q, through `sh -c` so that a row may close or move
  // standard descriptors (`redirect`), from the folder `from`.
  ProgramResult cli(std::vector<std::string> args, const std::string& redirect = "",
                    const fs::path& from = {}) {
    args.insert(args.end(), {"--port", device->portPath(), "-q"});
    const std::string cd = from.empty() ? "" : "cd \"$CLI_FROM\" && ";
    if (!from.empty()) setenv("CLI_FROM", from.c_str(), 1);
    args.insert(args.begin(), {"-c", cd + "exec \"$0\" \"$@\" " + redirect, MORVA_CLI_PROGRAM});
    return runProgram("/bin/sh", args);
  }

  ScratchDir dir;
  const Bytes oldImage = randomBytes(programBytes, 1);
  const Bytes newImage = randomBytes(programBytes, 2);
  std::unique_ptr<sim::Simulator> device = std::make_unique<sim::Simulator>();
};

// A backup that reaches the file to write, or the session's port, is refused before anything
// is read or sent: the image to write stays, and the device never hears a byte.
TEST_F(UserInput, ABackupThatIsTheSourceOrThePortIsRefusedBeforeAnyByte) {
  fs::create_symlink(dir / "new.upg", dir / "symbolic.upg");
  fs::create_hard_link(dir / "new.upg", dir / "hard.upg");
  fs::create_directories(dir / "d");
  fs::create_directory(dir / "other");
  fs::create_symlink("../other", dir / "d" / "link");  // d/link/.. is the test's folder
  fs::create_symlink(device->portPath(), dir / "port.upg");
  fs::create_symlink("/dev/null", dir / "null.upg");
  fs::create_symlink(dir / "gone" / "x.upg", dir / "dangling.upg");
  struct Row {
    const char* backup;
    std::string said;
  };
  const Row rows[] = {
      {"new.upg", "names the file to write"},
      {"symbolic.upg", "names the file to write"},
      {"hard.upg", "names the file to write"},
      {"d/link/../new.upg", "names the file to write"},
      {"port.upg", "is not a file: a device or a pipe keeps no copy"},
      {"null.upg", "is not a file: a device or a pipe keeps no copy"},
      {"dangling.upg", ": a symbolic link to a file that does not exist\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.backup);
    const World before = observe(dir.path(), device.get());
    const ProgramResult r =
        cli({"write", "program", "new.upg", "--backup", row.backup, "--yes"}, "", dir.path());
    EXPECT_EQ(r.status, 4) << explain(r);
    EXPECT_TRUE(contains(r.err, row.said)) << explain(r);
    EXPECT_TRUE(contains(r.err, "Nothing was")) << explain(r);
    EXPECT_EQ(changes(before, observe(dir.path(), device.get())), "");
  }
  // A read into the port itself, or into another device's line, through a link: refused,
  // nothing echoed back and nothing sent to the other device as commands.
  const auto other = std::make_unique<sim::Simulator>();
  fs::create_symlink(other->portPath(), dir / "other.upg");
  for (const auto& [target, said] :
       {std::pair{"port.upg", ": the serial port of this session, not a file\n"},
        {"other.upg", ": a serial line or a terminal, not a file\n"}}) {
    SCOPED_TRACE(target);
    const World before = observe(dir.path(), device.get());
    const ProgramResult r = cli({"read", "program", target, "--yes"}, "", dir.path());
    EXPECT_EQ(r.status, 4) << explain(r);
    EXPECT_TRUE(contains(r.err, said)) << explain(r);
    EXPECT_EQ(changes(before, observe(dir.path(), device.get())), "");
    EXPECT_EQ(other->stats().bytesReceived, 0u);
  }
}

// The log is no other file of the run: appended to the image sent, or to the file read into,
// it would corrupt it and the record would claim what the file no longer holds.
TEST_F(UserInput, ALogThatIsAnotherFileOfTheRunIsRefusedBeforeAnyByte) {
  writeFile(dir / "old.upg", randomBytes(100, 4));
  fs::create_symlink(dir / "new.upg", dir / "image-link");
  struct Row {
    std::vector<std::string> args;
    const char* said;
  };
  const Row rows[] = {
      {{"write", "program", "new.upg", "--log", "image-link"}, "is the log and also the file sent"},
      {{"verify", "program", "new.upg", "--log", "new.upg"},
       "is the log and also the file compared"},
      {{"read", "program", "old.upg", "--yes", "--log", "old.upg"},
       "is the file read into and also the log"},
      {{"write", "program", "new.upg", "--backup", "old.upg", "--yes", "--log", "old.upg"},
       "is the backup and also the log"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.said);
    const World before = observe(dir.path(), device.get());
    const ProgramResult r = cli(row.args, "", dir.path());
    EXPECT_EQ(r.status, 4) << explain(r);
    EXPECT_TRUE(contains(r.err, row.said)) << explain(r);
    EXPECT_EQ(changes(before, observe(dir.path(), device.get())), "");
  }
}

// Every check of the source comes before the backup: a refused write leaves the old backup.
TEST_F(UserInput, ASourceThatCannotBeSentIsRefusedBeforeTheBackup) {
  writeFile(dir / "backup.upg", randomBytes(100, 3));
  writeFile(dir / "notes.txt", newImage);
  fs::create_directory(dir / "folder.upg");
  ASSERT_EQ(mkfifo((dir / "pipe.upg").c_str(), 0600), 0);
  fs::create_symlink("loop2.upg", dir / "loop1.upg");
  fs::create_symlink("loop1.upg", dir / "loop2.upg");
  struct Row {
    const char* source;
    const char* said;
  };
  const Row rows[] = {
      {"missing.upg", "doesn't exist !"},
      {"loop1.upg", "loop1.upg: Too many levels of symbolic links\n"},
      {"notes.txt", "Warning: Don't change file extension !"},
      {"pipe.upg", "a pipe or a device, not a file"},
      {"folder.upg", "a folder, not a file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source);
    const World before = observe(dir.path(), device.get());
    const ProgramResult r = cli(
        {"write", "program", (dir / row.source).string(), "--backup", dir / "backup.upg", "--yes"});
    EXPECT_EQ(r.status, 4) << explain(r);
    EXPECT_TRUE(contains(r.err, row.said)) << explain(r);
    EXPECT_EQ(changes(before, observe(dir.path(), device.get())), "");
  }
}

// A file that standard output or error already write into (`2>> out.upg`) is no target: the
// device's blocks and the program's messages would mix in it.
TEST_F(UserInput, ATargetThatIsTheProgramsOwnOutputIsRefused) {
  writeFile(dir / "out.upg", oldImage);
  struct Row {
    std::vector<std::string> args;
    const char* redirect;
  };
  const Row rows[] = {
      {{"read", "program", "out.upg", "--yes"}, "2>>out.upg"},
      {{"read", "program", "out.upg", "--yes"}, ">>out.upg"},
      {{"write", "program", "new.upg", "--backup", "out.upg", "--yes"}, "2>>out.upg"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.redirect);
    const World before = observe(dir.path(), device.get());
    const ProgramResult r = cli(row.args, row.redirect, dir.path());
    EXPECT_EQ(r.status, 4) << explain(r);
    const Bytes out = readFile(dir / "out.upg");
    EXPECT_EQ(slice(out, 0, programBytes), oldImage) << "the old content must stay";
    const std::string added(out.begin() + programBytes, out.end());
    EXPECT_TRUE(contains(added + r.err + r.out, "is where this program's own output goes"));
    EXPECT_EQ(changes(before, observe(dir.path(), device.get()), {"out.upg"}), "");
    writeFile(dir / "out.upg", oldImage);
  }
}

// A program started with standard descriptors closed opens its files and ports on other
// numbers: its messages go nowhere rather than into the image or down the serial line, and it
// never takes the port for the terminal it asks its questions on.
TEST_F(UserInput, ClosedStandardDescriptorsNeverCarryTheProgramsOutput) {
  for (const char* redirect :
       {"<&-", ">&-", "2>&-", "<&- 2>&-", ">&- 2>&-", "<&- >&-", "<&- >&- 2>&-"}) {
    SCOPED_TRACE(redirect);
    device->memory().assign(oldImage);
    fs::remove(dir / "out.upg");
    const ProgramResult read = cli({"read", "program", dir / "out.upg"}, redirect);
    EXPECT_EQ(read.status, 0) << explain(read);
    EXPECT_EQ(readFile(dir / "out.upg"), oldImage);
    const ProgramResult write = cli({"write", "program", dir / "new.upg"}, redirect);
    EXPECT_EQ(write.status, 0) << explain(write);
    EXPECT_EQ(slice(device->memory().snapshot(), 0, programBytes), newImage);
    EXPECT_EQ(device->stats().bytesIgnored, 0u) << "stray bytes reached the device";
    // Nobody to ask whether to overwrite: the default answer, No.
    const World before = observe(dir.path(), device.get());
    const ProgramResult declined = cli({"read", "program", dir / "out.upg"}, redirect);
    EXPECT_EQ(declined.status, 4) << explain(declined);
    EXPECT_EQ(changes(before, observe(dir.path(), device.get())), "");
  }
}

// vk350-sim started as a child with closed descriptors, its port linked at `link`.
class SimulatorProcess {
 public:
  SimulatorProcess(const fs::path& link, const fs::path& memory, const std::string& redirect) {
    const std::string script = "exec \"$0\" --link \"$1\" --memory \"$2\" --trace " + redirect;
    ArgumentVector argv("/bin/sh", {"-c", script, MORVA_SIM_PROGRAM, link, memory});
    pid_ = fork();
    if (pid_ == 0) {
      execv("/bin/sh", argv.data());
      _exit(childExecFailed);
    }
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(link) && std::chrono::steady_clock::now() < guard)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // SIGTERM, then its exit status.
  int stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

// Its port's path, its trace and its held answers go where its descriptors lead, never down
// the line to the PC: nothing arrives that the PC did not ask for.
TEST_F(UserInput, TheSimulatorWithClosedDescriptorsServesAndSavesItsMemory) {
  for (const char* redirect : {">&- 2>/dev/null", "<&- >&- 2>&-", ">/dev/null 2>&-"}) {
    SCOPED_TRACE(redirect);
    const fs::path link = dir / "vk350", memory = dir / "memory.bin";
    fs::remove(memory);
    SimulatorProcess simulator(link, memory, redirect);
    // Opened without configuring it, which would empty the queue of what came already.
    PosixSerialPort listener;
    ASSERT_TRUE(listener.open(link));
    std::array<std::uint8_t, 64> unasked{};
    ASSERT_TRUE(listener.startGapRead(unasked));
    PollResult heard = listener.poll();
    for (; heard.isPending(); heard = listener.poll()) listener.waitForProgress(Clock::now() + 1s);
    EXPECT_EQ(heard.count, 0u) << "the device sent what nobody asked for";
    listener.close();
    const ProgramResult write =
        runProgram(MORVA_CLI_PROGRAM, {"write", "program", dir / "new.upg", "--port", link, "-q"});
    EXPECT_EQ(write.status, 0) << explain(write);
    const ProgramResult read = runProgram(
        MORVA_CLI_PROGRAM, {"read", "program", dir / "back.upg", "--port", link, "-q", "--yes"});
    EXPECT_EQ(read.status, 0) << explain(read);
    EXPECT_EQ(readFile(dir / "back.upg"), newImage);
    EXPECT_EQ(simulator.stop(), 0);
    EXPECT_EQ(slice(readFile(memory), 0, programBytes), newImage);
  }
}

// A memory image or the kept state of --simulate that is no file, or more than the device
// holds, is refused at once with its reason: no hang, no exhausted memory, the file untouched.
TEST_F(UserInput, MemoryAndStateFilesMustBeFilesNoLargerThanTheMemory) {
  fs::create_directories(dir / "state" / "morva");
  const fs::path state = dir / "state" / "morva" / "simulated-vk350.bin";
  struct Row {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* said;
  };
  const Row rows[] = {
      {"a named pipe", [](const fs::path& p) { mkfifo(p.c_str(), 0600); }, "not a file"},
      {"/dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, "not a file"},
      {"a folder", [](const fs::path& p) { fs::create_directory(p); }, "not a file"},
      {"2 MB", [](const fs::path& p) { writeFile(p, Bytes(2'000'000, 7)); }, "more than the"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (const fs::path& file : {dir / "memory.bin", state}) {
      row.make(file);
      const World before = observe(dir.path(), nullptr);
      const ProgramResult r =
          file == state ? runProgram(MORVA_CLI_PROGRAM,
                                     {"write", "program", dir / "new.upg", "--simulate", "-q"})
                        : runProgram(MORVA_SIM_PROGRAM, {"--memory", file});
      EXPECT_EQ(r.status, file == state ? 3 : 1) << explain(r);
      EXPECT_TRUE(contains(r.err, file.string())) << explain(r);
      EXPECT_TRUE(contains(r.err, row.said)) << explain(r);
      EXPECT_EQ(changes(before, observe(dir.path(), nullptr),
                        {"state/morva/simulated-vk350.bin.lock", "memory.bin.lock"}),
                "");
      fs::remove_all(file);
    }
  }
}

// A memory file is one device's at a time, and --simulate runs only where its memory is kept:
// otherwise the last device to save wins, or the next verification fails.
TEST_F(UserInput, ASimulatedMemoryIsKeptAndHeldByOneDeviceAtATime) {
  fs::create_directories(dir / "state" / "morva");
  sim::SimulatorOptions holding;
  holding.memoryFile = (dir / "shared.bin").string();
  const sim::Simulator first(holding);
  holding.memoryFile = (dir / "state" / "morva" / "simulated-vk350.bin").string();
  const sim::Simulator second(holding);
  struct Row {
    const char* what;
    std::string program;
    std::vector<std::string> args;
    int status;
    const char* said;
  };
  const Row rows[] = {
      {"a second simulator on one memory",
       MORVA_SIM_PROGRAM,
       {"--memory", dir / "shared.bin"},
       1,
       "is in use by another simulated Vk350"},
      {"--simulate while a simulator holds its memory",
       MORVA_CLI_PROGRAM,
       {"write", "program", dir / "new.upg", "--simulate", "-q"},
       3,
       "is in use by another simulated Vk350"},
      {"--simulate with no folder to keep its memory",
       "/usr/bin/env",
       {"-u", "HOME", "-u", "XDG_STATE_HOME", MORVA_CLI_PROGRAM, "write", "program",
        dir / "new.upg", "--simulate", "-q"},
       3,
       "the simulated Vk350's memory cannot be kept: neither XDG_STATE_HOME nor HOME"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const World before = observe(dir.path(), nullptr);
    const ProgramResult r = runProgram(row.program, row.args);
    EXPECT_EQ(r.status, row.status) << explain(r);
    EXPECT_TRUE(contains(r.err, row.said)) << explain(r);
    EXPECT_EQ(changes(before, observe(dir.path(), nullptr)), "");
  }
}

// A save replaces the memory file a link leads to, never a file someone linked in place of the
// temporary one; a reader of the simulator's output that went away (SIGPIPE at a held answer)
// does not end it, and the terminal closing (SIGHUP) saves the memory all the same.
TEST_F(UserInput, TheSimulatorSavesWhereItShouldWhateverEndsIt) {
  writeFile(dir / "real.bin", Bytes(100, 1));
  fs::create_symlink(dir / "real.bin", dir / "memory.bin");
  writeFile(dir / "victim", Bytes{'k', 'e', 'e', 'p'});
  fs::create_symlink(dir / "victim", dir / "real.bin.tmp");
  const fs::path link = dir / "vk350";
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  ArgumentVector argv(MORVA_SIM_PROGRAM, {"--link", link, "--memory", dir / "memory.bin", "--fault",
                                          "hold@data:3/once"});
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(output[1], 1);
    execv(MORVA_SIM_PROGRAM, argv.data());
    _exit(childExecFailed);
  }
  close(output[1]);
  char first = 0;
  ASSERT_EQ(read(output[0], &first, 1), 1);  // the port's path begins; then nobody listens
  close(output[0]);
  // The held answer never comes: the write fails at block 3 by its own time-out.
  const ProgramResult write =
      runProgram(MORVA_CLI_PROGRAM, {"write", "program", dir / "new.upg", "--port", link, "-q"});
  EXPECT_EQ(write.status, 1) << explain(write);
  EXPECT_TRUE(contains(write.err, "Fail: Transmission error : no data : 0")) << explain(write);
  kill(pid, SIGHUP);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_TRUE(fs::is_symlink(dir / "memory.bin"));
  EXPECT_EQ(slice(readFile(dir / "real.bin"), 0, 3 * block), slice(newImage, 0, 3 * block));
  EXPECT_EQ(readFile(dir / "victim"), (Bytes{'k', 'e', 'e', 'p'}));
}

// A folder that is a small file system of its own, full or read-only, mounted for one run in
// a mount namespace of the run's own. Root only.
class SmallFileSystem : public UserInput {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a file system takes root";
    UserInput::SetUp();
    fs::create_directory(dir / "fs");
  }
  // Runs `command` (sh) with $FS mounted as a tmpfs of `kilobytes`, after `prepare`.
  ProgramResult inMount(int kilobytes, const std::string& prepare, const std::string& command) {
    const std::string script = "mount -t tmpfs -o size=" + std::to_string(kilobytes) +
                               "k tmpfs \"$FS\" && " + prepare + " && " + command;
    setenv("FS", (dir / "fs").c_str(), 1);
    setenv("CLI", MORVA_CLI_PROGRAM, 1);
    setenv("PORT", device->portPath().c_str(), 1);
    setenv("XDG_STATE_HOME", (dir / "fs").c_str(), 1);
    return runProgram("/usr/bin/unshare",
                      {"--mount", "--propagation", "private", "/bin/sh", "-c", script});
  }
};

// The OS's own reason reaches the person: no "File exists" for a read-only mount, no "in use
// by another run" for a state folder that cannot be written, a full disk named in the detail.
TEST_F(SmallFileSystem, FullAndReadOnlyFileSystemsAreReportedWithTheirReason) {
  const std::string readOnly =
      "echo old > \"$FS/old.upg\" && mkdir \"$FS/morva\" && "
      "mount -o remount,ro \"$FS\"";
  const std::string full = "head -c 200000 /dev/zero > \"$FS/fill\"";
  struct Row {
    const char* what;
    int kilobytes;
    std::string prepare;
    std::string command;
    int status;
    std::string said;
    bool wire;  // the device heard the session
  };
  const Row rows[] = {
      {"a read into a full disk", 64, "true",
       "\"$CLI\" read program \"$FS/x.upg\" --port \"$PORT\" -q", 1,
       "Fail: File write error !\n" + (dir / "fs" / "x.upg").string() +
           ": No space left on device\n",
       true},
      {"a read over a file on a read-only mount", 64, readOnly,
       "\"$CLI\" read program \"$FS/old.upg\" --yes --port \"$PORT\" -q", 4,
       (dir / "fs" / "old.upg").string() + ": Read-only file system\n", false},
      {"a read into a new file on a read-only mount", 64, readOnly,
       "\"$CLI\" read program \"$FS/new.upg\" --port \"$PORT\" -q", 4,
       (dir / "fs" / "new.upg").string() + ": Read-only file system\n", false},
      {"--simulate with its state on a read-only mount", 64, readOnly,
       "\"$CLI\" write program \"" + (dir / "new.upg").string() + "\" --simulate -q", 3,
       "cannot save the memory beside it: " + (dir / "fs" / "morva").string() +
           "/simulated-vk350.bin.tmp: Read-only file system",
       false},
      {"vk350-sim with its memory on a read-only mount", 64, readOnly,
       "\"" + std::string(MORVA_SIM_PROGRAM) + "\" --memory \"$FS/morva/m.bin\"", 1,
       "cannot save the memory beside it: " + (dir / "fs" / "morva").string() +
           "/m.bin.tmp: Read-only file system",
       false},
      {"--simulate with its state on a full disk", 1100, full,
       "\"$CLI\" write program \"" + (dir / "new.upg").string() +
           "\" --simulate -q"
           " && test ! -e \"$FS/morva/simulated-vk350.bin.tmp\"",
       1, "memory was not saved: ", false},
      // The record does not fit: it is taken back whole, and the run does not end as complete.
      {"a log on a full disk", 64,
       "head -c 4000 /dev/zero | tr '\\0' '\\n' > \"$FS/run.log\" && "
       "{ head -c 100000 /dev/zero > \"$FS/fill\" 2>/dev/null || true; }",
       "\"$CLI\" read program \"" + (dir / "r.upg").string() +
           "\" --port \"$PORT\" -q --log \"$FS/run.log\"; s=$?; "
           "[ \"$(wc -c < \"$FS/run.log\")\" = 4000 ] || s=7; (exit $s)",
       1, "No space left on device: this session's record is not in the log", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const World before = observe(dir.path(), device.get());
    const ProgramResult r = inMount(row.kilobytes, row.prepare,
                                    row.command + "; s=$?; ls \"$FS/morva\" 2>/dev/null; exit $s");
    EXPECT_EQ(r.status, row.status) << explain(r);
    EXPECT_TRUE(contains(r.err, row.said)) << explain(r);
    EXPECT_FALSE(contains(r.out, ".tmp")) << explain(r);
    const World after = observe(dir.path(), device.get());
    EXPECT_EQ(after.bytesReceived > before.bytesReceived, row.wire) << "bytes on the wire";
    EXPECT_EQ(after.memory, before.memory);
  }
}

// The backup, the write and its verification reach one device: when the port the backup read
// cannot be opened again, or its name now leads to another device, nothing is written anywhere
// and no other port is searched.
TEST_F(UserInput, AWriteAfterItsBackupStaysOnTheDeviceTheBackupRead) {
  const auto other = std::make_unique<sim::Simulator>();
  other->memory().assign(oldImage);
  // The first open of the backup's port reaches it; every later one fails, or reaches `other`
  // (an adapter that enumerated again under the name, a link moved).
  struct ReopenedElsewhere : PatientPort {
    std::string first, instead;
    int opens = 0;
    bool open(const std::string& name) override {
      if (name == first && ++opens > 1) return PosixSerialPort::open(instead);
      return PosixSerialPort::open(name);
    }
  };
  struct Row {
    const char* what;
    bool backup;
    bool elsewhere;
    const char* said;
  };
  const Row rows[] = {
      {"backup, port gone", true, false, "Nothing was written: "},
      {"verify, port gone", false, false, "was written, but not verified"},
      {"backup, another device", true, true, ", where the backup was read, is now another device"},
      {"verify, another device", false, true, "was written, but not verified: "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ReopenedElsewhere port;
    port.first = device->portPath();
    port.instead = row.elsewhere ? other->portPath() : "/dev/morva-test-gone";
    const World before = observe(dir.path(), other.get());
    std::vector<std::string> args{"write", "program", dir / "new.upg", "--port", port.first};
    args.push_back(row.backup ? "--backup" : "--verify");
    if (row.backup) args.push_back(dir / "backup.upg");
    const CliResult r = runCliOver(port, other->portPath(), args, true);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.said("Warning", "Port open error !"), !row.elsewhere) << r.err;
    EXPECT_TRUE(contains(r.err, row.said)) << r.err;
    EXPECT_EQ(changes(before, observe(dir.path(), other.get()), {"backup.upg"}), "");
  }
}

// A write that ends half-way says what the device now holds: the blocks it acknowledged, and
// the one whose frame went out unanswered, which it may hold too (not one it refused). A file
// shorter than the kind's range says which blocks it fills.
TEST_F(UserInput, AWriteEndedHalfWaySaysWhatTheDeviceMayHold) {
  // Ctrl-C once the device holds back its answer to block 5's frame.
  struct StopAtHold : testing::QuietConsole {
    const sim::Simulator* device = nullptr;
    unsigned before = 0;
    bool stopRequested() const override { return device->holdsReached() > before; }
  };
  const std::string holds =
      "The device holds blocks 0-4 of " + (dir / "new.upg").string() + " (5 of 512).\n";
  const std::string maybe =
      "Block 5 went out as well, but its acknowledgment did not come: the device may hold it "
      "too.\n";
  struct Row {
    const char* fault;
    int status;
    bool mayHoldOneMore;
  };
  for (const Row& row : {Row{"hold@data:5/once", 130, true}, Row{"silence@data:5/once", 1, true},
                         Row{"nak@data:5/once", 1, false}}) {
    SCOPED_TRACE(row.fault);
    device->setFaults({*sim::parseFault(row.fault)});
    StopAtHold console;
    console.device = device.get();
    console.before = device->holdsReached();
    // A held answer is waited for patiently; silence and refusals at the line's own pace.
    PatientPort patient;
    PosixSerialPort plain;
    SerialPort& port = row.status == 130 ? static_cast<SerialPort&>(patient) : plain;
    const CliResult r = runCliOver(port, device->portPath(), {"write", "program", dir / "new.upg"},
                                   false, &console);
    device->release();
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_TRUE(contains(r.err, holds)) << r.err;
    EXPECT_EQ(contains(r.err, maybe), row.mayHoldOneMore) << r.err;
  }
  device->setFaults({});
  writeFile(dir / "half.upg", slice(newImage, 0, 300));
  const ProgramResult half = cli({"write", "program", dir / "half.upg"});
  EXPECT_EQ(half.status, 0) << explain(half);
  EXPECT_TRUE(contains(half.err,
                       "half.upg is 300 bytes: only blocks 0-1 (2 of 512) are sent; "
                       "the device's other blocks of the kind keep what they hold."))
      << explain(half);
  writeFile(dir / "whole.upg", slice(newImage, 0, 512));
  const ProgramResult whole = cli({"write", "program", dir / "whole.upg"});
  EXPECT_EQ(whole.status, 0) << explain(whole);
  EXPECT_TRUE(contains(whole.err,
                       "whole.upg is 512 bytes: only blocks 0-2 (3 of 512) are sent, "
                       "the last 256 zero bytes; the device's other blocks"))
      << explain(whole);
}

// A path goes where the kernel takes it: "d/link/../x" through a link into another folder
// names a file beside that folder, not d/x, for the file sent and for the file read into.
TEST_F(UserInput, PathsThroughLinksNameWhatTheKernelFinds) {
  fs::create_directories(dir / "d");
  fs::create_directories(dir / "far" / "in");
  fs::create_symlink("../far/in", dir / "d" / "link");  // d/link/.. is far
  writeFile(dir / "far" / "x.upg", newImage);
  writeFile(dir / "d" / "x.upg", oldImage);
  const ProgramResult write = cli({"write", "program", "d/link/../x.upg"}, "", dir.path());
  EXPECT_EQ(write.status, 0) << explain(write);
  EXPECT_EQ(slice(device->memory().snapshot(), 0, programBytes), newImage);

  device->memory().assign(oldImage);
  const World before = observe(dir.path(), nullptr);
  const ProgramResult read = cli({"read", "program", "d/link/../y.upg"}, "", dir.path());
  EXPECT_EQ(read.status, 0) << explain(read);
  EXPECT_EQ(readFile(dir / "far" / "y.upg"), oldImage);
  EXPECT_EQ(changes(before, observe(dir.path(), nullptr), {"far/y.upg"}), "");
}

// A relative FILE is opened from the working folder, however deep it lies; a working folder
// that was removed is named as the reason, and nothing reaches the device.
TEST_F(UserInput, RelativePathsWorkFromAnyWorkingFolder) {
  // Deeper than a path the kernel takes at once: made, used and removed from inside.
  ScratchDir deepRoot;
  const std::string level(200, 'd');
  const std::string inDeep =
      "cd \"$0\" && for i in $(seq 22); do mkdir -p \"$1\" && cd -P \"$1\" || exit 9; done && ";
  struct Row {
    const char* script;
    const char* direction;
  };
  const Row rows[] = {
      {"cp \"$2\" new.upg && exec \"$3\" write program new.upg --port \"$4\" -q", "write"},
      {"\"$3\" read program back.upg --port \"$4\" -q && cmp back.upg \"$2\"", "read"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.direction);
    const ProgramResult r =
        runProgram("/bin/sh", {"-c", inDeep + row.script, deepRoot.path(), level, dir / "new.upg",
                               MORVA_CLI_PROGRAM, device->portPath()});
    EXPECT_EQ(r.status, 0) << explain(r);
  }
  EXPECT_EQ(slice(device->memory().snapshot(), 0, programBytes), newImage);
  runProgram("/bin/rm", {"-rf", deepRoot / level});

  const World before = observe(dir.path(), device.get());
  for (const char* direction : {"write", "read", "verify"}) {
    SCOPED_TRACE(direction);
    const ProgramResult r = runProgram(
        "/bin/sh", {"-c",
                    "mkdir \"$0/gone\" && cd \"$0/gone\" && rmdir ../gone && exec \"$1\" "
                    "\"$2\" program x.upg --port \"$3\" -q --yes",
                    dir.path(), MORVA_CLI_PROGRAM, direction, device->portPath()});
    EXPECT_EQ(r.status, 4) << explain(r);
    EXPECT_TRUE(contains(r.err, "morva-cli: x.upg: the working folder")) << explain(r);
  }
  EXPECT_EQ(changes(before, observe(dir.path(), device.get())), "");
}

}  // namespace
}  // namespace morva::hardening
