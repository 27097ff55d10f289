#include "frontends/cli/cli_app.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <system_error>

#include "display/texts.h"
#include "frontends/cli/file_checks.h"
#include "frontends/cli/fleet.h"
#include "frontends/cli/progress.h"
#include "frontends/cli/terminal_operator.h"
#include "frontends/cli/tracing_port.h"
#include "frontends/cli/user_path.h"
#include "link/link.h"
#include "platform/waiting.h"
#include "transfer/engine.h"
#include "transfer/frames.h"
#include "transfer/session_loop.h"
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
  std::string file_;  // FILE and --backup as the sessions use them
  std::string backup_;
  std::optional<FileIdentity> device_;  // the port the last session reached
  SearchResult found_;                  // the last device search
  SessionLog* log = nullptr;            // every session's record goes here

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
    buildPortList(link, named.empty() ? env.lister : none, named);
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
    buildPortList(link, env.lister, named);
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
    found_ = detectDevice(link);
    if (stopped()) return exitStopped;
    if (found_.found) return exitComplete;
    show(notFoundMessage(found_));
    return exitNoDevice;
  }

  int detect() {
    // Ports named on the command line are the only ones probed.
    if (!listPorts()) return exitNoDevice;
    if (const int searched = search(); searched != exitComplete) return searched;
    const auto& v = found_.versions;
    env.out << "Vk350 found on " << link.portNameTable[link.portIndex] << '\n'
            << firmwareLine(formatVersionText(v[0], v[1]), formatVersionText(v[2], v[3])) << '\n';
    return exitComplete;
  }

  int transfer() {
    if (const int refused = checkFilesFirst(); refused != exitComplete) return refused;
    if (!listPorts()) return exitNoDevice;
    if (const int refused = checkTargetsAgainst(simulatorMemories(), files(), env);
        refused != exitComplete)
      return refused;
    std::vector<FileUse> uses;
    addUses(uses, files());
    addSharedUses(uses, log != nullptr ? log->path() : "", simulatorMemories());
    if (const int refused = checkUsesApart(uses, env); refused != exitComplete) return refused;
    if (options.ports.empty() && !options.simulate) {
      if (const int searched = search(); searched != exitComplete) return searched;
    }
    if (!backup_.empty()) {
      const int saved = session(Direction::ReadFromDevice, backup_, PortChoice::SearchWhenGone);
      if (saved != exitComplete) {
        env.err << "Nothing was written: the backup into " << backup_ << " did not complete.\n";
        return saved;
      }
    }
    // What was saved is only a backup of the device the write then reaches: after one, no
    // search may pick another.
    const int status = session(options.direction, file_,
                               backup_.empty() ? PortChoice::SearchWhenGone : PortChoice::SamePort);
    if (status != exitComplete || !options.verifyAfter) return status;
    return session(Direction::Verify, file_, PortChoice::SamePort);
  }

  // Every check of the files that needs no device, before any port is opened or any file
  // touched: a refusal leaves the device, the line and every file as they were.
  int checkFilesFirst() {
    std::string why;
    const auto file = sessionPath(options.file, why);
    const auto backup =
        options.backup.empty() ? std::optional<std::string>("") : sessionPath(options.backup, why);
    if (!file || !backup) {
      env.err << "morva-cli: " << why << "\n";
      return exitNotStarted;
    }
    file_ = *file;
    backup_ = *backup;
    return cli::checkFilesFirst(files(), env, state, op);
  }

  RunFiles files() const { return {options.direction, options.kind, file_, backup_}; }

  std::vector<std::string> simulatorMemories() const {
    return env.simulatorMemories ? env.simulatorMemories() : std::vector<std::string>{};
  }

  // How a session reaches its device when the port it used cannot be opened again.
  enum class PortChoice { SearchWhenGone, SamePort };

  // One session on `file`, from the Write, Read and Verify commands' start sequence to its end.
  // After a search or a whole session the line is known to be quiet; a port named by hand was
  // not asked, and falls quiet first.
  int session(Direction direction, const std::string& file, PortChoice choice) {
    state.direction = direction;
    state.dataKind = options.kind;
    op.setFile(file);
    if (direction != Direction::ReadFromDevice) warnOfSourceSize(file);
    const auto start = std::chrono::system_clock::now();
    const int status = runSession(direction, choice);
    if (log != nullptr) {
      const bool found = status != exitNoDevice;
      const SessionRecord r = recordOf(state, portName(), file, start,
                                       std::chrono::system_clock::now(), env.files, found);
      if (std::string why; !log->append(r, why)) env.err << "morva-cli: the log: " << why << '\n';
    }
    return status;
  }

  std::string portName() const {
    return link.portNameTable.empty()
               ? std::string()
               : link.portNameTable[static_cast<std::size_t>(link.portIndex)];
  }

  int runSession(Direction direction, PortChoice choice) {
    const PortReadiness ready = choice == PortChoice::SamePort ? reopenSelectedPort(link, op)
                                                               : reopenOrDetect(link, op, op);
    if (stopped()) return exitStopped;
    if (ready != PortReadiness::Ready) {
      if (choice == PortChoice::SamePort) tellPortLost(direction, "cannot be opened again");
      return exitNoDevice;
    }
    // A name is all a reopen goes by: a link moved to another adapter, or another device
    // enumerated under the name, is not the device the sessions before reached.
    if (choice == PortChoice::SamePort && link.port->identity() != device_) {
      link.port->close();
      tellPortLost(direction, "is now another device");
      return exitNoDevice;
    }
    device_ = link.port->identity();
    const StartResult started = startSession(state, link, op);
    if (started != StartResult::Started) return stopped() ? exitStopped : exitNotStarted;
    return drive();
  }

  // The device of the sessions before this one cannot be reached again through its port.
  void tellPortLost(Direction direction, const char* why) {
    const std::string& port = link.portNameTable[static_cast<std::size_t>(link.portIndex)];
    if (direction == Direction::Verify)
      env.err << file_ << " was written, but not verified: " << port << " " << why << ".\n";
    else
      env.err << "Nothing was written: " << port << ", where the backup was read, " << why << ".\n";
  }

  // Only the kind's blocks are sent or compared, and only as many as the file fills (the last
  // with zeros after its end): say so when the file is not the range's size.
  void warnOfSourceSize(const std::string& file) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    const KindInfo& kind = *kindInfo(options.kind);
    const std::uintmax_t range = std::uintmax_t{kind.blockCount} * blockSize;
    if (error || size == range) return;
    const char* verb = state.direction == Direction::Verify ? "compared" : "sent";
    if (size > range) {
      env.err << file << " is " << size << " bytes: only its first " << range << " bytes ("
              << kindText(options.kind) << ", " << kind.blockCount << " blocks) are " << verb
              << ".\n";
      return;
    }
    // A file that ends on a block's edge is followed by one block of zeros, as the last.
    const std::uintmax_t blocks = size / blockSize + 1;
    env.err << file << " is " << size << " bytes: only blocks " << kind.firstBlock << "-"
            << kind.firstBlock + blocks - 1 << " (" << blocks << " of " << kind.blockCount
            << ") are " << verb << (size % blockSize == 0 ? ", the last 256 zero bytes" : "")
            << (state.direction == Direction::Verify
                    ? ".\n"
                    : "; the device's other blocks of the kind keep what they hold.\n");
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
    // The hooks reach this session's progress line: a message of the next session (its port
    // cannot be opened again) must not draw on a line that has gone.
    struct Unhook {
      TerminalOperator& op;
      ~Unhook() {
        op.setBeforeMessage({});
        op.setOnBlock({});
      }
    } unhook{op};
    progress.start();
    bool exchanged = false;  // the device identified itself: a read's file was emptied
    SessionLoop loop;
    const SessionLoop::Id id = loop.add(state, link, op);
    while (loop.running(id)) {
      if (env.console.stopRequested()) return stop(progress, exchanged);
      if (loop.runDue() == 0) {
        waitForNews(loop.nextWait());
        loop.wakeAll();
      }
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
    const TransferStep stoppedAt = state.transferStep;
    stopSession(state, link, op);
    closeDataFile(state);
    progress.clear();
    env.err << "Stopped.\n";
    tellWhatIsPartial(exchanged, mayHoldOneMore(stoppedAt, std::nullopt));
    return exitStopped;
  }

  // A write that ended while its data frame was going out or its answer was due: the device
  // may have stored that block, unless it refused it.
  static bool mayHoldOneMore(TransferStep endedAt, const std::optional<Failure>& failure) {
    const bool frameOut =
        endedAt == TransferStep::AwaitDataSent || endedAt == TransferStep::AwaitDataAnswer;
    return frameOut && !(failure && failure->answer == AnswerFault::Nak);
  }

  // After a session that ended half-way: what the device or the file now holds.
  void tellWhatIsPartial(bool exchanged, bool oneMoreMaybe) {
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
      if (oneMoreMaybe)
        env.err << "Block " << state.currentBlock
                << " went out as well, but its acknowledgment did not come: the device may "
                   "hold it too.\n";
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
      if (state.outcome == SessionOutcome::Failed && state.failure)
        tellWhatIsPartial(exchanged, mayHoldOneMore(state.failure->step, state.failure));
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

// The log command: the records as a table; a line that is none is named, and skipped.
int showLog(const std::string& path, Environment& env) {
  OsError error;
  const auto file = env.files.open(path, OpenMode::Read, error);
  if (file == nullptr || file->kind() != PathKind::Regular) {
    env.err << "morva-cli: " << (file ? path + ": not a file" : describeFailure(path, error))
            << '\n';
    return exitNotStarted;
  }
  std::string text;
  std::array<std::uint8_t, 65536> chunk{};
  for (OpenFile::ReadResult read{}; !read.endOfFile && !read.error;) {
    read = file->read(chunk);
    text.append(reinterpret_cast<const char*>(chunk.data()), read.count);
  }
  std::vector<SessionRecord> records;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (line.empty()) continue;
    std::string why;
    if (auto record = parseJsonLine(line, why))
      records.push_back(std::move(*record));
    else
      env.err << "morva-cli: " << path << ":" << number << ": " << why << '\n';
  }
  env.out << recordTable(records);
  return exitComplete;
}

int runCli(const Options& options, Environment& env) {
  SessionLog log;
  if (!options.log.empty() && options.command == Command::Transfer) {
    std::string why;
    const auto path = sessionPath(options.log, why);
    if (!path || !log.open(env.files, *path, why)) {
      env.err << "morva-cli: --log " << options.log << ": " << why << '\n';
      return exitNotStarted;
    }
  }
  SessionLog* const kept = log.isOpen() ? &log : nullptr;
  // A run whose record is missing from its log did not do all that was asked.
  const auto recorded = [&](int status) {
    return status == exitComplete && log.lostARecord() ? exitTransferFailed : status;
  };
  if (options.all && (options.command == Command::Transfer || options.command == Command::Detect))
    return recorded(runFleet(options, env, kept));
  Run run(options, env);
  run.log = kept;
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
      return recorded(run.transfer());
    case Command::Log:
      return showLog(options.logToShow, env);
  }
  return exitUsage;
}

}  // namespace morva::cli
