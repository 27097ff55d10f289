// How close morva-cli comes to the limit of the line, as ratios measured in one run. The tool
// finds the simulated device by its search, as on a machine whose port list holds it:
//  1. a full program write against the simulator paced at 38400 baud: wall time over the time
//     the same bytes need on the wire, and the tool's CPU time over its wall time;
//  2. unpaced, a user-data read of 3200 blocks: blocks per second, against a minimal blocking
//     client written here that makes the same exchange.
// Usage: wire_bench [--skip-paced]
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
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

using bench::threadCpuSeconds;
using bench::wallSeconds;
using testing::ListedPorts;
using testing::QuietConsole;
using testing::ScratchDir;

// Runs morva-cli in this process; the simulator's own thread is not counted in the CPU time.
bool runCli(const std::vector<std::string>& args, double& wall, double& cpu,
            std::vector<std::string> listed = {}) {
  auto parsed = cli::parseOptions(args);
  PosixSerialPort port;
  ListedPorts lister;  // empty (ports named with --port), or as on a machine listing the device
  lister.names = std::move(listed);
  QuietConsole console;
  PosixFileService files;
  std::ostringstream out, err;
  cli::Environment env{port, lister, files, console, out, err, {}, {}, {},
                       [] { return std::make_unique<PosixSerialPort>(); }};
  double w0 = wallSeconds(), c0 = threadCpuSeconds();
  int status = cli::runCli(*parsed.options, env);
  wall = wallSeconds() - w0;
  cpu = threadCpuSeconds() - c0;
  if (status != 0) std::fprintf(stderr, "morva-cli failed (%d):\n%s", status, err.str().c_str());
  return status == 0;
}

void pacedWrite() {
  sim::SimulatorOptions options;
  options.paced = true;
  sim::Simulator device(options);
  ScratchDir dir;
  const std::string file = testing::writeFile(dir / "fw.upg", testing::randomBytes(131072, 3));
  double wall = 0, cpu = 0;
  // Found by the search, as on a machine that lists the device's port: the session then
  // starts on a line known to be quiet.
  bool ok = runCli({"write", "program", file, "--quiet"}, wall, cpu, {device.portPath()});
  // ESC, the identification, and per block: command, ACK, data frame, ACK; 10 bits a byte.
  const double wireBytes = 1 + 6 + 512.0 * (4 + 1 + 257 + 1);
  const double wireSeconds = wireBytes * 10 / 38400;
  std::printf("paced program write: %s\n", ok ? "complete" : "FAILED");
  std::printf("  wall %.2f s, wire limit %.2f s, ratio %.4f (goal <= 1.02)\n", wall, wireSeconds,
              wall / wireSeconds);
  std::printf("  CPU %.3f s, CPU/wall %.2f %% (goal < 2 %%)\n", cpu, 100 * cpu / wall);
}

// The minimal blocking client: a plain read/write loop without any of the engine's timing.
bool readAll(int fd, unsigned char* buffer, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) return false;
    ssize_t r = read(fd, buffer + got, n - got);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

bool minimalRead(const std::string& port, std::vector<unsigned char>& image) {
  int fd = open(port.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return false;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, B38400);
  tcsetattr(fd, TCSANOW, &t);
  unsigned char esc = 0x1B, id[6], ack, frame[257];
  bool ok = write(fd, &esc, 1) == 1 && readAll(fd, id, 6);
  for (unsigned block = 896; ok && block < 4096; ++block) {
    unsigned char cmd[4] = {0x12, static_cast<unsigned char>(block & 0xFF),
                            static_cast<unsigned char>(block >> 8), 0};
    cmd[3] = static_cast<unsigned char>(-(cmd[0] + cmd[1] + cmd[2]));
    ok = write(fd, cmd, 4) == 4 && readAll(fd, &ack, 1) && ack == 0x06 && readAll(fd, frame, 257);
    if (ok) image.insert(image.end(), frame, frame + 256);
  }
  close(fd);
  return ok;
}

void unpacedRead() {
  sim::Simulator device;
  ScratchDir dir;
  double wall = 0, cpu = 0;
  bool ok = runCli({"read", "user", dir.file("read.usr"), "--quiet", "--yes"}, wall, cpu,
                   {device.portPath()});
  std::vector<unsigned char> image;
  double m0 = wallSeconds();
  bool minimalOk = minimalRead(device.portPath(), image);
  double minimal = wallSeconds() - m0;
  std::printf("unpaced user-data read, 3200 blocks: %s / minimal client %s\n",
              ok ? "complete" : "FAILED", minimalOk ? "complete" : "FAILED");
  std::printf("  morva-cli %.3f s = %.0f blocks/s; minimal client %.3f s = %.0f blocks/s\n", wall,
              3200 / wall, minimal, 3200 / minimal);
  std::printf("  time ratio %.3f (goal <= 1.25)\n", wall / minimal);
}

}  // namespace

int main(int argc, char** argv) {
  bool skipPaced = argc > 1 && std::strcmp(argv[1], "--skip-paced") == 0;
  unpacedRead();
  if (!skipPaced) pacedWrite();
}
