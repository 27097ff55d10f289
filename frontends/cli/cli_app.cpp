#include "frontends/cli/cli_app.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include "display/texts.h"
#include "frontends/cli/progress.h"
#include "frontends/cli/terminal_operator.h"
#include "frontends/cli/tracing_port.h"
#include "link/link.h"
#include "transfer/engine.h"
#include "transfer/frames.h"
#include "transfer/version.h"

namespace morva::cli {
namespace {

struct Run {
  const Options& options;
  Environment& env;
  SessionState state;
  LinkPort link;
  TerminalOperator op;
  std::unique_ptr<TracingPort> tracer;

  Run(const Options& o, Environment& e) : options(o), env(e), op(e.console, e.err, o.yes, o.file) {
    link.port = &env.port;
    state.files = &env.files;
    if (options.trace) {
      tracer = std::make_unique<TracingPort>(env.port, [this](const std::string& line) {
        env.err << line << '\n' << std::flush;
      });
      link.port = tracer.get();
    }
  }

  ~Run() {
    // Shutdown: discard what is still queued both ways, then let the port go.
    if (link.port->isOpen()) {
      link.port->purge();
      link.port->close();
    }
  }

  void show(const Message& m) { op.showMessage(m); }

  // The ports named by --port, then the simulator's port with --simulate.
  std::vector<std::string> namedPorts() {
    std::vector<std::string> named = options.ports;
    if (options.simulate) named.push_back(env.startSimulator());
    return named;
  }

  // The port list as start-up builds it; with --port or --simulate only those ports.
  bool listPorts() {
    const std::vector<std::string> named = namedPorts();
    NoPortLister none;
    buildPortList(link, state, named.empty() ? env.lister : none, named);
    if (link.portNameTable.empty()) {
      show(noPortMessage());
      return false;
    }
    if (!named.empty()) {
      // The first port named on the command line is the one chosen, as in the Port menu.
      auto it = std::find(link.portNameTable.begin(), link.portNameTable.end(), named.front());
      link.portIndex = static_cast<int>(it - link.portNameTable.begin());
    }
    return true;
  }

  int ports() {
    const std::vector<std::string> named = namedPorts();
    buildPortList(link, state, env.lister, named);
    if (link.portNameTable.empty()) {
      show(noPortMessage());
      return exitNoDevice;
    }
    // The simulator's port, named last, is named as such, as in the desktop program's menu.
    const std::string simulated = options.simulate ? named.back() : std::string();
    for (const auto& name : link.portNameTable)
      env.out << (name == simulated ? simulatedPortLabel(name) : name) << '\n';
    return exitComplete;
  }

  // Ctrl-C during the search or at a question: the signal only sets a flag, looked at here.
  bool stopped() {
    if (!env.console.stopRequested()) return false;
    env.err << "Stopped.\n";
    return true;
  }

  // The search for the device over the listed ports: exitComplete once it answered.
  int search() {
    const DeviceSearch found = detectDevice(link, op);
    if (stopped()) return exitStopped;
    if (found == DeviceSearch::Found) return exitComplete;
    show(notFoundMessage(link));
    return exitNoDevice;
  }

  int detect() {
    // Ports named on the command line are the only ones probed.
    if (!listPorts()) return exitNoDevice;
    if (const int searched = search(); searched != exitComplete) return searched;
    const auto& b = link.ioBuffer;
    env.out << "Vk350 found on " << link.portNameTable[link.portIndex] << '\n'
            << firmwareLine(formatVersionText(b[0], b[1]), formatVersionText(b[2], b[3])) << '\n';
    return exitComplete;
  }

  int transfer() {
    if (!listPorts()) return exitNoDevice;
    if (options.ports.empty() && !options.simulate) {
      if (const int searched = search(); searched != exitComplete) return searched;
    }
    if (!options.backup.empty()) {
      const int saved = session(Direction::ReadFromDevice, options.backup);
      if (saved != exitComplete) {
        env.err << "Nothing was written: the backup into " << options.backup
                << " did not complete.\n";
        return saved;
      }
    }
    const int status = session(options.direction, options.file);
    if (status != exitComplete || !options.verifyAfter) return status;
    return session(Direction::Verify, options.file);
  }

  // One session on `file`, from the Write, Read and Verify commands' start sequence to its end.
  // After a search or a whole session the line is known to be quiet; a port named by hand was
  // not asked, and falls quiet first.
  int session(Direction direction, const std::string& file) {
    state.direction = direction;
    state.dataKind = options.kind;
    op.setFile(file);
    if (direction != Direction::ReadFromDevice) warnOfLongSource(file);
    const PortReadiness ready = reopenOrDetect(link, op, op);
    if (stopped()) return exitStopped;
    if (ready != PortReadiness::Ready) return exitNoDevice;
    const StartResult started = startSession(state, link, op);
    if (started != StartResult::Started) return stopped() ? exitStopped : exitNotStarted;
    return drive();
  }

  // Only the kind's blocks are sent or compared: say so when the file holds more.
  void warnOfLongSource(const std::string& file) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    const std::uintmax_t range = std::uintmax_t{kindInfo(options.kind)->blockCount} * blockSize;
    if (error || size <= range) return;
    env.err << file << " is " << size << " bytes: only its first " << range << " bytes ("
            << kindText(options.kind) << ", " << kindInfo(options.kind)->blockCount
            << " blocks) are " << (state.direction == Direction::Verify ? "compared" : "sent")
            << ".\n";
  }

  // The main window's session line: "Write to Vk350 : program".
  std::string title() const { return sessionLine(state.direction, state.sessionKind); }

  int drive() {
    const bool showProgress = !options.quiet && !options.trace;
    Progress progress(
        env.err, env.console.errorIsTerminal() && showProgress, title(),
        [this] { return env.console.errorColumns(); }, env.console.errorTakesEscapes());
    op.setBeforeMessage([&] { progress.clear(); });
    op.setOnBlock([&](unsigned done, unsigned total) {
      if (showProgress) progress.update(static_cast<int>(done), static_cast<int>(total));
    });
    progress.start();
    bool exchanged = false;  // the device identified itself: a read's file was emptied
    while (sessionRunning(state.transferStep)) {
      if (env.console.stopRequested()) return stop(progress, exchanged);
      if (performTransferStep(state.transferStep, state, link, op) == StepResult::Waiting)
        link.port->waitForProgress(Clock::now() + std::chrono::milliseconds(250));
      exchanged = exchanged || exchangingBlocks(state.transferStep);
    }
    // A question answered No because of Ctrl-C is a stop, not a declined session.
    if (env.console.stopRequested()) return stop(progress, exchanged);
    if (showProgress && state.outcome == SessionOutcome::Completed) {
      // A verification that met the end of its file stops without counting that block.
      int done = state.currentBlock - state.firstBlock;
      if (state.direction == Direction::Verify && state.blocksLeft != 0) ++done;
      progress.finish(done, done);
    }
    return outcomeStatus(progress, exchanged);
  }

  int stop(Progress& progress, bool exchanged) {
    // The Stop command; and since the process ends, the file goes too. The blocks already
    // received are on disk.
    stopSession(state, link, op);
    closeDataFile(state);
    progress.clear();
    env.err << "Stopped.\n";
    tellWhatIsPartial(exchanged);
    return exitStopped;
  }

  // After a session that ended half-way: what the device or the file now holds.
  void tellWhatIsPartial(bool exchanged) {
    if (!exchanged || state.direction == Direction::Verify) return;
    const std::string& file = state.fileName;
    if (state.direction == Direction::WriteToDevice) {
      const unsigned blocks = state.currentBlock - state.firstBlock;
      if (blocks == 0)
        env.err << "No block of " << file << " was written into the device.\n";
      else
        env.err << "The device holds blocks " << state.firstBlock << "-" << state.currentBlock - 1
                << " of " << file << " (" << blocks << " of " << blocks + state.blocksLeft
                << ").\n";
      return;
    }
    closeDataFile(state);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (!error) env.err << file << " holds " << size / blockSize << " whole blocks.\n";
  }

  int outcomeStatus(Progress& progress, bool exchanged) {
    progress.clear();
    if (state.outcome != SessionOutcome::Completed) {
      if (state.outcome == SessionOutcome::Failed) tellWhatIsPartial(exchanged);
      return exitTransferFailed;
    }
    if (state.differences > 0) {
      env.err << "Veryfication found " << state.differences << " differing bytes in "
              << state.differingBlocks << " blocks, from offset " << state.firstDifference
              << " to offset " << state.lastDifference << ".\n";
      return exitTransferFailed;
    }
    env.err << "Done: " << title() << " complete.\n";
    return exitComplete;
  }
};

}  // namespace

int runCommandLine(const std::vector<std::string>& args, std::ostream& err,
                   const std::function<int(const Options&)>& run) {
  const ParseResult parsed = parseOptions(args);
  if (!parsed.options) {
    err << usageError(parsed.error);
    return exitUsage;
  }
  return run(*parsed.options);
}

int closeStandardOutput(int status, std::ostream& err) {
  errno = 0;
  std::cout.flush();
  int number = errno;
  bool failed = !std::cout.good();
  errno = 0;
  if (std::fclose(stdout) != 0) {
    failed = true;
    if (number == 0) number = errno;
  }
  if (!failed) return status;
  err << "morva-cli: write error" << (number != 0 ? std::string(": ") + std::strerror(number) : "")
      << '\n';
  return exitTransferFailed;
}

int runCli(const Options& options, Environment& env) {
  Run run(options, env);
  switch (options.command) {
    case Command::Help:
      env.out << usageText();
      return exitComplete;
    case Command::Version:
      env.out << "morva-cli " << versionNumber() << '\n';
      return exitComplete;
    case Command::Ports:
      return run.ports();
    case Command::Detect:
      return run.detect();
    case Command::Transfer:
      return run.transfer();
  }
  return exitUsage;
}

}  // namespace morva::cli
