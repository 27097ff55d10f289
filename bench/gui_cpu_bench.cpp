// The desktop program's CPU time, measured on its own (GUI) thread in one run:
//  1. 10 s idle with a device connected (nothing to do: the loop must sleep);
//  2. a full program write from the menus against the simulator paced at 38400 baud.
// The simulator runs on its own thread and is not counted. Runs offscreen.
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "app/commands.h"
#include "bench/cpu_time.h"
#include "frontends/qt/front_end.h"
#include "platform/posix/file_service.h"
#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/support/files.h"
#include "tests/support/quiet_console.h"

namespace {

using namespace morva;

using bench::threadCpuSeconds;
using bench::wallSeconds;

// Answers the file chooser with the prepared image; no box is expected.
struct BenchDialogs : qt::Dialogs {
  std::string file;
  Answer showMessage(QWidget*, const Message& m) override {
    std::fprintf(stderr, "%s: %s\n", m.caption.c_str(), m.text.c_str());
    return Answer::No;
  }
  std::optional<FileChoice> chooseFile(QWidget*, const FileRequest&) override {
    return FileChoice{file, false};
  }
  std::optional<FontSpec> chooseFont(QWidget*, const FontSpec&) override { return std::nullopt; }
  bool openHelp(const std::string&) override { return false; }
};

void runFor(int ms, const std::function<bool()>& done = {}) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done && done()) loop.quit();
  });
  if (done) check.start(50);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  sim::SimulatorOptions options;
  options.paced = true;
  sim::Simulator device(options);
  testing::ScratchDir folder;
  BenchDialogs dialogs;
  dialogs.file = testing::writeFile(folder / "fw.upg", testing::Bytes(131072, 0x5a));
  PosixSerialPort port;
  testing::ListedPorts lister;
  PosixFileService files;
  ProgramOptions programOptions;
  programOptions.files = &files;
  programOptions.extraPorts = {device.portPath()};
  qt::FrontEnd frontEnd(dialogs, port, lister, programOptions);
  if (frontEnd.start() != 0) return 1;

  double c0 = threadCpuSeconds(), w0 = wallSeconds();
  runFor(10000);
  double idleCpu = threadCpuSeconds() - c0, idleWall = wallSeconds() - w0;
  std::printf("idle: CPU %.3f s over %.1f s = %.2f %%\n", idleCpu, idleWall,
              100 * idleCpu / idleWall);

  c0 = threadCpuSeconds();
  w0 = wallSeconds();
  frontEnd.window().itemAction(MenuId::Action, 2)->hover();  // "&Program"
  frontEnd.window().commandAction(CMD_WRITE)->trigger();
  const SessionState& state = frontEnd.program().state();
  runFor(120000, [&] { return !sessionRunning(state.transferStep); });
  double writeCpu = threadCpuSeconds() - c0, writeWall = wallSeconds() - w0;
  std::printf("paced program write (%s): CPU %.3f s over %.1f s = %.2f %%\n",
              state.outcome == SessionOutcome::Completed ? "complete" : "FAILED", writeCpu,
              writeWall, 100 * writeCpu / writeWall);
  frontEnd.program().shutdown();
  return state.outcome == SessionOutcome::Completed ? 0 : 1;
}
