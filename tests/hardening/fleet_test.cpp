// morva-cli --all: many controllers at once, against simulators on pseudo-terminals. Each
// row of the end's table and each line of the log says what its device or file holds, and
// what a person hands the run (file names with {port}, ports, a log) is refused when it could
// lose data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <thread>

#include "record/session_log.h"
#include "sim/simulator.h"
#include "tests/hardening/child_process.h"
#include "tests/hardening/harness.h"
#include "tests/support/quiet_console.h"

namespace morva::hardening {
namespace {

constexpr std::size_t block = 256;
constexpr std::size_t programBytes = 512 * block;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::unique_ptr<sim::Simulator> deviceWith(std::vector<std::string> faults = {}) {
  sim::SimulatorOptions options;
  for (const auto& fault : faults) options.faults.push_back(*sim::parseFault(fault));
  return std::make_unique<sim::Simulator>(std::move(options));
}

// morva-cli in this process, its ports patient ones: a held answer is waited for, not given up.
CliResult runFleet(std::vector<std::string> args, Console* console = nullptr,
                   std::vector<std::string> memories = {}) {
  CliResult result;
  const cli::ParseResult parsed = cli::parseOptions(args);
  if (!parsed.options) {
    result.err = parsed.error;
    result.status = cli::exitUsage;
    return result;
  }
  std::ostringstream out, err;
  testing::ListedPorts lister;
  testing::QuietConsole quiet;
  PosixFileService files;
  PosixSerialPort unused;
  cli::Environment env{unused, lister,
                       files,  console ? *console : quiet,
                       out,    err,
                       {},     [memories] { return memories; },
                       {},     [] { return std::make_unique<PatientPort>(); }};
  result.status = cli::runCli(*parsed.options, env);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// The table's row of `port`.
std::string rowOf(const CliResult& r, const std::string& port) {
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(port + " ", 0) == 0) return line;
  return {};
}

class Fleet : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.path().empty()); }
  ScratchDir dir;
  const Bytes image = randomBytes(programBytes, 21);
  const Bytes before = randomBytes(sim::MemoryImage::byteCount, 22);
};

// Three controllers, the second refusing block 300, and a fourth port with nothing behind it:
// two complete, one fails with its message, one is not found; the table, the log and every
// device's memory agree.
TEST_F(Fleet, EachRowSaysWhatItsDeviceNowHolds) {
  const auto a = deviceWith(), b = deviceWith({"nak@data:300/once"}), c = deviceWith();
  for (auto* d : {a.get(), b.get(), c.get()}) d->memory().assign(before);
  const std::string fw = writeFile(dir / "fw.upg", image), log = (dir / "run.log").string();
  const std::string none = (dir / "nothing").string();
  const CliResult r =
      runFleet({"write", "program", fw, "--all", "--port", a->portPath(), "--port", b->portPath(),
                "--port", c->portPath(), "--port", none, "--log", log, "-q"});
  EXPECT_EQ(r.status, 1) << r.err << r.out;
  for (const auto& [port, words] :
       {std::pair{a->portPath(), std::vector<std::string>{"completed", " 512/512 "}},
        std::pair{b->portPath(),
                  std::vector<std::string>{"failed: Transmission error : got NAK", " 300/512 "}},
        std::pair{c->portPath(), std::vector<std::string>{"completed", " 512/512 "}}})
    for (const std::string& word : words) EXPECT_TRUE(contains(rowOf(r, port), word)) << r.out;
  EXPECT_TRUE(contains(rowOf(r, none), "not-found: No such file or directory")) << r.out;
  for (auto* done : {a.get(), c.get()})
    EXPECT_EQ(slice(done->memory().snapshot(), 0, programBytes), image);
  auto expected = slice(before, 0, programBytes);
  std::copy_n(image.begin(), 300 * block, expected.begin());
  ASSERT_TRUE(waitUntilQuiet(b->portPath()));
  EXPECT_EQ(slice(b->memory().snapshot(), 0, programBytes), expected);

  const Bytes logged = readFile(log);
  std::istringstream lines(std::string(logged.begin(), logged.end()));
  std::map<std::string, SessionRecord> byPort;
  for (std::string line; std::getline(lines, line);) {
    std::string why;
    const auto record = parseJsonLine(line, why);
    ASSERT_TRUE(record) << why << ": " << line;
    byPort[record->port] = *record;
  }
  ASSERT_EQ(byPort.size(), 4u);
  EXPECT_EQ(byPort[a->portPath()].outcome, "completed");
  EXPECT_EQ(byPort[b->portPath()].outcome, "failed");
  EXPECT_EQ(byPort[b->portPath()].message, "Fail: Transmission error : got NAK");
  EXPECT_EQ(byPort[b->portPath()].blocksDone, 300u);
  EXPECT_EQ(byPort[none].outcome, "not-found");
  EXPECT_EQ(byPort[a->portPath()].sha256, byPort[c->portPath()].sha256);
  EXPECT_EQ(byPort[a->portPath()].file, fw);
}

// Ctrl-C while the second device holds back its answer to block 100: every session stops
// where it stands, and each row tells what its device holds, as its memory shows.
TEST_F(Fleet, CtrlCStopsEverySessionAndEachRowSaysWhatIsLeft) {
  const auto a = deviceWith(), b = deviceWith({"hold@data:100/once"});
  for (auto* d : {a.get(), b.get()}) d->memory().assign(before);
  struct StopAtHold : testing::QuietConsole {
    const sim::Simulator* device = nullptr;
    bool stopRequested() const override { return device->holdsReached() > 0; }
  } console;
  console.device = b.get();
  const std::string fw = writeFile(dir / "fw.upg", image);
  const CliResult r = runFleet(
      {"write", "program", fw, "--all", "--port", a->portPath(), "--port", b->portPath(), "-q"},
      &console);
  b->release();
  EXPECT_EQ(r.status, 130) << r.err << r.out;
  EXPECT_TRUE(
      contains(rowOf(r, b->portPath()), "stopped: the device holds blocks 0-99 (and perhaps 100)"))
      << r.out;
  ASSERT_TRUE(waitUntilQuiet(a->portPath()));
  const std::string rowA = rowOf(r, a->portPath());
  const Bytes memoryA = a->memory().snapshot();
  std::size_t written = 0;
  while (written < 512 &&
         slice(memoryA, written * block, block) == slice(image, written * block, block))
    ++written;
  EXPECT_TRUE(contains(rowA, "completed") ? written == 512
                                          : contains(rowA, "stopped: the device holds blocks 0-"))
      << rowA;
}

// What a person hands the run is checked before any port is opened.
TEST_F(Fleet, InputsThatCouldLoseDataAreRefusedFirst) {
  const auto a = deviceWith(), b = deviceWith();
  fs::create_directory(dir / "logdir");
  ASSERT_EQ(mkfifo((dir / "log.fifo").c_str(), 0600), 0);
  fs::create_symlink(a->portPath(), dir / "alias");
  // Ports whose names make one port's file another port's: "xa"'s backup is "a"'s source, and
  // "c"'s target is the port "c.upg".
  for (const auto& [link, port] :
       {std::pair{"a", a.get()}, {"xa", b.get()}, {"c", a.get()}, {"c.upg", b.get()}})
    fs::create_symlink(port->portPath(), dir / link);
  struct Row {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string said;
    std::vector<std::string> ports = {};  // when not the two devices' own paths
  };
  const std::string pa = a->portPath(), pb = b->portPath();
  const std::string target = (dir / "r-{port}.upg").string();
  const std::string labelA = fs::path(pa).filename().string();
  const std::string memory = (dir / "sim.bin").string();
  const Row rows[] = {
      {"read without {port}",
       {"read", "program", (dir / "r.upg").string()},
       2,
       "read needs {port} in FILE"},
      {"a backup without {port}",
       {"write", "program", (dir / "fw.upg").string(), "--backup", (dir / "b.upg").string()},
       2,
       "--backup needs {port}"},
      {"{port} as a folder that climbs",
       {"read", "program", (dir / "{port}/x.upg").string(), "--port", "/dev/.."},
       2,
       "has no name that {port} could stand for"},
      {"two ports, one file",
       {"read", "program", target, "--port", (dir / "x" / "3").string(), "--port", "/tmp/3"},
       2,
       "would both read into"},
      {"a log that is a folder",
       {"write", "program", (dir / "fw.upg").string(), "--log", (dir / "logdir").string()},
       4,
       "the log must be a file"},
      {"a log that is a pipe",
       {"write", "program", (dir / "fw.upg").string(), "--log", (dir / "log.fifo").string()},
       4,
       "the log must be a file"},
      {"one port's backup is another port's source",
       {"write", "program", (dir / "x{port}.upg").string(), "--backup",
        (dir / "{port}.upg").string()},
       4,
       "is the backup of " + (dir / "xa").string() + " and also the file sent to",
       {(dir / "a").string(), (dir / "xa").string()}},
      {"a file read into that is another port",
       {"read", "program", (dir / "{port}.upg").string()},
       4,
       "and also the port " + (dir / "c.upg").string(),
       {(dir / "c").string(), (dir / "c.upg").string()}},
      {"a log that is the source",
       {"write", "program", (dir / "fw.upg").string(), "--log", (dir / "fw.upg").string()},
       4,
       "is the log and also the file sent"},
      {"a log that is a port's file read into",
       {"read", "program", target, "--log", (dir / ("r-" + labelA + ".upg")).string()},
       4,
       "is the file " + pa + " is read into and also the log"},
      {"a log where a simulated device keeps its memory",
       {"write", "program", (dir / "fw.upg").string(), "--log", memory},
       4,
       "is the log and also where a simulated Vk350 keeps its memory"},
  };
  writeFile(dir / "fw.upg", image);
  writeFile(dir / "xa.upg", randomBytes(programBytes, 23));
  writeFile(dir / "xxa.upg", randomBytes(programBytes, 24));
  writeFile(dir / ("r-" + labelA + ".upg"), randomBytes(100, 25));
  writeFile(memory, before);
  const auto files = {"fw.upg", "xa.upg", "xxa.upg", "sim.bin"};
  std::vector<Bytes> kept;
  for (const char* name : files) kept.push_back(readFile(dir / name));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::string> args = row.args;
    for (const std::string& port : row.ports.empty() ? std::vector{pa, pb} : row.ports)
      args.insert(args.end(), {"--port", port});
    args.insert(args.end(), {"--all", "-q"});
    const CliResult r = runFleet(args, nullptr, {memory});
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_TRUE(contains(r.err, row.said)) << r.err;
    EXPECT_EQ(a->stats().bytesReceived + b->stats().bytesReceived, 0u) << "a port was used";
    auto k = kept.begin();
    for (const char* name : files) EXPECT_EQ(readFile(dir / name), *k++) << name << " changed";
    EXPECT_FALSE(fs::exists(dir / "a.upg")) << "a backup was begun";
  }
  // One device under two names takes part once.
  const CliResult twice = runFleet({"write", "program", (dir / "fw.upg").string(), "--all",
                                    "--port", pa, "--port", (dir / "alias").string(), "-q"});
  EXPECT_EQ(twice.status, 1) << twice.out;
  EXPECT_TRUE(contains(rowOf(twice, (dir / "alias").string()), "the same device as " + pa) ||
              contains(rowOf(twice, pa), "the same device as"))
      << twice.out;
  EXPECT_EQ(slice(a->memory().snapshot(), 0, programBytes), image);
}

// A port another program holds gets its row with the reason and takes no part; the others run.
TEST_F(Fleet, APortHeldElsewhereTakesNoPart) {
  const auto a = deviceWith(), b = deviceWith();
  const int held = open(b->portPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  const CliResult r = runFleet({"write", "program", writeFile(dir / "fw.upg", image), "--all",
                                "--port", a->portPath(), "--port", b->portPath(), "-q"});
  close(held);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(contains(rowOf(r, a->portPath()), "completed")) << r.out;
  EXPECT_TRUE(contains(rowOf(r, b->portPath()), "not-found: ")) << r.out;
  EXPECT_EQ(b->stats().bytesReceived, 0u);
}

// Two runs append to one log side by side: every line is one whole record.
TEST_F(Fleet, TwoRunsShareOneLog) {
  const auto a = deviceWith(), b = deviceWith();
  const std::string fw = writeFile(dir / "fw.upg", image), log = (dir / "shared.log").string();
  std::vector<ProgramResult> results(2);
  std::vector<std::thread> runs;
  for (int i = 0; i < 2; ++i)
    runs.emplace_back([&, i] {
      for (int k = 0; k < 3; ++k)
        results[i] = runProgram(
            MORVA_CLI_PROGRAM,
            {"verify", "program", fw, "--port", (i == 0 ? a : b)->portPath(), "--log", log, "-q"});
    });
  for (auto& run : runs) run.join();
  const Bytes text = readFile(log);
  std::istringstream lines(std::string(text.begin(), text.end()));
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    std::string why;
    EXPECT_TRUE(parseJsonLine(line, why)) << why << ": " << line;
  }
  EXPECT_EQ(count, 6);
}

}  // namespace
}  // namespace morva::hardening
