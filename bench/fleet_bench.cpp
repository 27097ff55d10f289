// Many controllers at once: a paced program write (38400 baud) to N = 1, 2, 4 and 8 simulated
// controllers with one morva-cli --all, measured in one run: the wall time for N over the wall
// time for one, and the tool's CPU time per controller as a share of one core. The tool runs
// in this process on one thread of its own; the simulators' threads are not counted.
// Usage: fleet_bench [N...]   (default 1 2 4 8)
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/cpu_time.h"
#include "frontends/cli/cli_app.h"
#include "platform/posix/file_service.h"
#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/support/files.h"
#include "tests/support/quiet_console.h"

namespace {

using namespace morva;

struct Figures {
  double wall = 0, cpu = 0;
  int status = -1;
};

Figures writeToAll(int count, const std::string& image) {
  std::vector<std::unique_ptr<sim::Simulator>> devices;
  std::vector<std::string> args{"write", "program", image, "--all", "-q"};
  for (int i = 0; i < count; ++i) {
    sim::SimulatorOptions options;
    options.paced = true;
    devices.push_back(std::make_unique<sim::Simulator>(std::move(options)));
    args.insert(args.end(), {"--port", devices.back()->portPath()});
  }
  const auto parsed = cli::parseOptions(args);
  PosixSerialPort unused;
  testing::ListedPorts lister;
  testing::QuietConsole console;
  PosixFileService files;
  std::ostringstream out, err;
  cli::Environment env{unused, lister, files, console, out, err, {}, {}, {},
                       [] { return std::make_unique<PosixSerialPort>(); }};
  Figures f;
  const double wall = bench::wallSeconds(), cpu = bench::threadCpuSeconds();
  f.status = cli::runCli(*parsed.options, env);
  f.wall = bench::wallSeconds() - wall;
  f.cpu = bench::threadCpuSeconds() - cpu;
  if (f.status != 0) std::fprintf(stderr, "%s%s", out.str().c_str(), err.str().c_str());
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts{1, 2, 4, 8};
  if (argc > 1) {
    counts.clear();
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  }
  testing::ScratchDir dir;
  const std::string image = dir.file("fw.upg", nullptr);
  testing::writeFile(image, testing::randomBytes(512 * 256, 1));
  // The bytes of a program write at 38400 baud (10 bits a byte): the wire's own time.
  const double wire = (1.0 + 6 + 512 * (4 + 1 + 257 + 1)) * 10 / 38400;
  std::printf("wire limit of one program write: %.2f s\n", wire);
  double single = 0;
  for (const int count : counts) {
    const Figures f = writeToAll(count, image);
    if (single == 0) single = f.wall;
    std::printf("N=%d  status %d  wall %.2f s  x wire %.3f  x N=%d %.3f  CPU %.3f s  "
                "per controller %.2f %% of a core\n",
                count, f.status, f.wall, f.wall / wire, counts.front(), f.wall / single, f.cpu,
                100.0 * f.cpu / f.wall / count);
  }
  return 0;
}
