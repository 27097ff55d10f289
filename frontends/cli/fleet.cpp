#include "frontends/cli/fleet.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>

#include "display/texts.h"
#include "frontends/cli/file_checks.h"
#include "frontends/cli/fleet_display.h"
#include "frontends/cli/terminal_operator.h"
#include "frontends/cli/user_path.h"
#include "link/link.h"
#include "platform/waiting.h"
#include "transfer/engine.h"
#include "transfer/frames.h"
#include "transfer/session_loop.h"
#include "transfer/wording.h"

namespace morva::cli {
namespace {

using SystemClock = std::chrono::system_clock;

// The operator of one port's sessions: the run's questions were asked once before they
// started, so the overwrite question is answered Yes and a difference is counted, not asked;
// a failure is kept for the port's row.
class PortOperator : public Operator, public PortMenu {
 public:
  Answer showMessage(const Message& message) override {
    if (message.buttons == Buttons::YesNo) return Answer::Yes;
    last = message;
    return Answer::Ok;
  }
  std::optional<FileChoice> chooseFile(const FileRequest& request) override {
    return FileChoice{file, extensionDiffers(file, request.defaultExtension)};
  }
  void invalidate(Area, bool) override {}
  void setPortTick(int, bool) override {}

  std::string file;
  std::optional<Message> last;
};

struct Member {
  std::string port;   // as listed
  std::string shown;  // as the rows show it, when not as listed
  std::string label;  // the name without its folder, for {port}
  std::unique_ptr<SerialPort> serial;
  LinkPort link;
  SessionState state;
  PortOperator op;
  RunFiles files;
  std::vector<std::pair<Direction, std::string>> phases;  // each session's direction and file
  std::size_t phase = 0;
  bool active = false;  // a session of it runs, or the next is about to start
  bool found = false;   // a Vk350 answered
  std::string outcome;  // how it ended, once it has
  std::string versions;
  std::optional<FileIdentity> device;
  SystemClock::time_point sessionStart;
  std::chrono::steady_clock::time_point began, ended;
  std::string sha256;
};

std::string versionsOf(const std::array<std::uint8_t, 4>& v) {
  return formatVersionText(v[0], v[1]) + " " + formatVersionText(v[2], v[3]);
}

class Fleet {
 public:
  Fleet(const Options& options, Environment& env, SessionLog* log)
      : options_(options), env_(env), log_(log), asker_(env.console, env.err, options.yes, "") {}

  int run() {
    if (const int refused = gather(); refused != exitComplete) return refused;
    if (const int refused = checkFiles(); refused != exitComplete) return refused;
    if (!askOnce()) return exitNotStarted;
    probe();
    if (stopped()) return finish(true);
    if (options_.command == Command::Detect) return listFound();
    if (std::none_of(members_.begin(), members_.end(), [](const Member& m) { return m.found; }))
      return finish(false);
    for (Member& m : members_) startNext(m);
    return finish(drive());
  }

 private:
  // The ports of the list, each a member with its own port and files. A usage error when a
  // port's name cannot stand for {port}, or two ports would share a file read into.
  int gather() {
    std::vector<std::string> names = options_.ports;
    for (int i = 0; options_.simulate && i < options_.simulated; ++i) {
      names.push_back(env_.startSimulator());
      simulated_.push_back(names.back());
    }
    if (names.empty()) names = env_.lister.listPorts();
    LinkPort sorted;
    NoPortLister none;
    buildPortList(sorted, none, names);
    if (sorted.portNameTable.empty()) {
      asker_.showMessage(noPortMessage());
      return exitNoDevice;
    }
    for (const std::string& name : sorted.portNameTable)
      if (const int refused = addMember(name); refused != exitComplete) return refused;
    return exitComplete;
  }

  int addMember(const std::string& name) {
    Member& m = members_.emplace_back();
    m.port = name;
    // A simulated device's pseudo-terminal changes from run to run: it is named by its place.
    const auto place = std::find(simulated_.begin(), simulated_.end(), name);
    m.label = place != simulated_.end()
                  ? "simulated-" + std::to_string(place - simulated_.begin() + 1)
                  : std::filesystem::path(name).filename().string();
    if (place != simulated_.end()) m.shown = simulatedPortLabel(name);
    m.serial = env_.newPort();
    m.link.port = m.serial.get();
    m.link.portNameTable = {name};
    m.state.files = &env_.files;
    if (options_.command == Command::Detect) return exitComplete;
    if (m.label.empty() || m.label == "." || m.label == "..") {
      env_.err << "morva-cli: " << name << " has no name that {port} could stand for\n";
      return exitUsage;
    }
    std::string why;
    const auto file = sessionPath(withPortName(options_.file, m.label), why);
    const auto backup = options_.backup.empty()
                            ? std::optional<std::string>("")
                            : sessionPath(withPortName(options_.backup, m.label), why);
    if (!file || !backup) {
      env_.err << "morva-cli: " << why << '\n';
      return exitNotStarted;
    }
    m.files = {options_.direction, options_.kind, *file, *backup};
    if (!m.files.backup.empty()) m.phases.emplace_back(Direction::ReadFromDevice, m.files.backup);
    m.phases.emplace_back(options_.direction, m.files.file);
    if (options_.verifyAfter) m.phases.emplace_back(Direction::Verify, m.files.file);
    return exitComplete;
  }

  // Every file check before any port is opened: each distinct set of files once; no two ports
  // reading into one file; no port twice under two names.
  int checkFiles() {
    for (std::size_t i = 0; i < members_.size(); ++i) {
      Member& m = members_[i];
      for (std::size_t j = 0; j < i; ++j) {
        const Member& earlier = members_[j];
        if (sameDevice(earlier, m)) {
          m.outcome = "not-found: the same device as " + earlier.port;
          break;
        }
        for (const std::string& mine : m.files.targets())
          for (const std::string& theirs : earlier.files.targets())
            if (sameFile(env_.files, mine, theirs)) {
              env_.err << "morva-cli: " << earlier.port << " and " << m.port
                       << " would both read into " << mine << ": put {port} in its name\n";
              return exitUsage;
            }
      }
      const bool checkedBefore =
          std::any_of(members_.begin(), members_.begin() + i, [&](const Member& e) {
            return e.files.file == m.files.file && e.files.backup == m.files.backup;
          });
      if (checkedBefore || options_.command == Command::Detect) continue;
      if (const int refused = checkFilesFirst(m.files, env_, m.state, asker_);
          refused != exitComplete)
        return refused;
      const auto memories =
          env_.simulatorMemories ? env_.simulatorMemories() : std::vector<std::string>{};
      if (const int refused = checkTargetsAgainst(memories, m.files, env_); refused != exitComplete)
        return refused;
    }
    return options_.command == Command::Detect ? exitComplete : checkUsesApart(uses(), env_);
  }

  // Every file of every port, the ports themselves, the log and the simulated memories.
  std::vector<FileUse> uses() const {
    std::vector<FileUse> all;
    for (std::size_t i = 0; i < members_.size(); ++i) {
      const Member& m = members_[i];
      const int owner = static_cast<int>(i);
      addUses(all, m.files, owner, m.port);
      all.push_back({m.port, "the port " + m.port, false, owner});
    }
    addSharedUses(all, log_ != nullptr ? log_->path() : "",
                  env_.simulatorMemories ? env_.simulatorMemories() : std::vector<std::string>{});
    return all;
  }

  // A simulated device's pseudo-terminal changes from run to run; the log names it by its place.
  static std::string loggedPort(const Member& m) { return m.shown.empty() ? m.port : m.label; }

  bool sameDevice(const Member& a, const Member& b) {
    const auto first = env_.files.inspect(a.port).identity,
               second = env_.files.inspect(b.port).identity;
    return first && second && *first == *second;
  }

  // The run's one question: whether the files that already exist may be overwritten.
  bool askOnce() {
    std::vector<std::string> existing;
    for (const Member& m : members_)
      for (const std::string& target : m.files.targets())
        if (env_.files.inspect(target).kind != PathKind::Missing) existing.push_back(target);
    if (existing.empty()) return true;
    std::string names;
    for (const std::string& name : existing) names += (names.empty() ? "" : ", ") + name;
    Message question = overwriteQuestion(names);
    if (existing.size() > 1)
      question.text = "Files " + names + " already exist !\nDo you want overwrite the files ?";
    return asker_.showMessage(question) == Answer::Yes;
  }

  // Every port at once; the ones where no Vk350 answered take no part.
  void probe() {
    std::vector<LinkPort*> links;
    std::vector<Member*> probed;
    for (Member& m : members_) {
      if (!m.outcome.empty()) continue;
      links.push_back(&m.link);
      probed.push_back(&m);
    }
    const std::vector<SearchResult> results = probeEach(links, waitForNews);
    for (std::size_t i = 0; i < probed.size(); ++i) {
      Member& m = *probed[i];
      m.found = results[i].found;
      if (m.found) {
        m.versions = versionsOf(results[i].versions);
        m.device = m.link.port->identity();
        m.link.lineQuiet = true;
      } else {
        m.outcome = "not-found" + (results[i].report.empty() ? "" : ": " + reasonOf(results[i]));
        logNotFound(m);
      }
    }
  }

  static std::string reasonOf(const SearchResult& search) {
    std::string line = search.report.front();
    line = line.substr(0, line.find('\n'));  // the reason, not the advice below it
    const auto colon = line.find(": ");
    return colon == std::string::npos ? line : line.substr(colon + 2);
  }

  int listFound() {
    int found = 0;
    for (const Member& m : members_) {
      if (!m.found) continue;
      ++found;
      env_.out << "Vk350 found on " << m.port << ": " << m.versions << '\n';
    }
    printTable();
    return found > 0 ? exitComplete : exitNoDevice;
  }

  // The member's next session on the same device, or its end.
  void startNext(Member& m) {
    if (!m.found || !m.outcome.empty() || m.phase >= m.phases.size()) return;
    const auto& [direction, file] = m.phases[m.phase];
    m.state.direction = direction;
    m.state.dataKind = options_.kind;
    m.op.file = file;
    m.op.last.reset();
    if (m.phase == 0) m.began = std::chrono::steady_clock::now();
    m.sessionStart = SystemClock::now();
    if (reopenSelectedPort(m.link, m.op) != PortReadiness::Ready ||
        m.link.port->identity() != m.device) {
      if (m.link.portOpen()) m.link.port->close();
      return end(m, "failed: the port was lost" +
                        std::string(m.phase > 0 ? "; nothing more was written" : ""));
    }
    if (startSession(m.state, m.link, m.op) != StartResult::Started)
      return end(m, "failed: " + (m.op.last ? m.op.last->text : std::string("not started")));
    m.active = true;
  }

  // The member's session has ended: its record, then the next session or its outcome.
  void sessionEnded(Member& m) {
    m.active = false;
    record(m, m.phases[m.phase].second);
    const bool completed = m.state.outcome == SessionOutcome::Completed && m.state.differences == 0;
    if (!completed) return end(m, failureOf(m));
    if (++m.phase < m.phases.size()) return startNext(m);
    end(m, "completed");
  }

  std::string failureOf(const Member& m) {
    const bool backup = !m.files.backup.empty() && m.phase == 0;
    std::string text = m.state.outcome == SessionOutcome::Stopped ? "stopped" : "failed";
    if (m.state.differences > 0)
      text += ": " + std::to_string(m.state.differences) + " differing bytes";
    else if (m.op.last)
      text += ": " + m.op.last->text;
    if (backup) text += "; nothing was written";
    return text;
  }

  void end(Member& m, std::string outcome) {
    m.active = false;
    m.outcome = std::move(outcome);
    m.ended = std::chrono::steady_clock::now();
  }

  // One loop for every port: what is due runs, then a sleep on every port at once.
  bool drive() {
    SessionLoop loop;
    for (Member& m : members_) loop.add(m.state, m.link, m.op);
    for (;;) {
      if (stopped()) return stopAll();
      const auto running = [](const Member& m) { return m.active; };
      if (std::none_of(members_.begin(), members_.end(), running)) return false;
      if (loop.runDue() == 0) {
        waitForNews(loop.nextWait());
        loop.wakeAll();
      }
      for (std::size_t i = 0; i < members_.size(); ++i)
        if (members_[i].active && !loop.running(i)) sessionEnded(members_[i]);
      if (!options_.quiet) display_.show(rows());
    }
  }

  // Ctrl-C: every session ends where it stands, and each row says what is left.
  bool stopAll() {
    for (Member& m : members_) {
      if (!m.active) continue;
      const TransferStep at = m.state.transferStep;
      stopSession(m.state, m.link, m.op);
      closeDataFile(m.state);
      record(m, m.phases[m.phase].second);
      end(m, "stopped: " + whatIsLeft(m, at));
    }
    return true;
  }

  std::string whatIsLeft(const Member& m, TransferStep at) {
    const unsigned done = m.state.currentBlock - m.state.firstBlock;
    if (m.state.direction == Direction::ReadFromDevice) {
      std::error_code error;
      const auto size = std::filesystem::file_size(m.phases[m.phase].second, error);
      return m.phases[m.phase].second + " holds " + std::to_string(error ? 0 : size / blockSize) +
             " whole blocks";
    }
    if (m.state.direction == Direction::Verify) return "the verification was not finished";
    std::string text = done == 0 ? "no block written"
                                 : "the device holds blocks " + std::to_string(m.state.firstBlock) +
                                       "-" + std::to_string(m.state.currentBlock - 1);
    if (at == TransferStep::AwaitDataSent || at == TransferStep::AwaitDataAnswer)
      text += " (and perhaps " + std::to_string(m.state.currentBlock) + ")";
    return text;
  }

  bool stopped() const { return env_.console.stopRequested(); }

  std::vector<FleetRow> rows() const {
    std::vector<FleetRow> all;
    for (const Member& m : members_) {
      FleetRow row;
      row.port = m.shown.empty() ? m.port : m.shown;
      row.versions = m.versions;
      if (m.active) {
        row.done = m.state.currentBlock - m.state.firstBlock;
        row.total = row.done + m.state.blocksLeft;
        row.state = sessionLine(m.state.direction, m.state.sessionKind);
      } else {
        row.state = m.outcome.empty() ? "waiting" : m.outcome;
      }
      all.push_back(row);
    }
    return all;
  }

  void record(Member& m, const std::string& file) {
    const SessionRecord r =
        recordOf(m.state, loggedPort(m), file, m.sessionStart, SystemClock::now(), env_.files);
    m.sha256 = r.sha256;
    if (log_ == nullptr) return;
    if (std::string why; !log_->append(r, why)) env_.err << "morva-cli: the log: " << why << '\n';
  }

  void logNotFound(const Member& m) {
    if (log_ == nullptr) return;
    SessionState none;
    none.direction = options_.direction;
    none.dataKind = options_.kind;
    const auto now = SystemClock::now();
    const SessionRecord r = recordOf(none, loggedPort(m), m.files.file, now, now, env_.files, false);
    if (std::string why; !log_->append(r, why)) env_.err << "morva-cli: the log: " << why << '\n';
  }

  int finish(bool interrupted) {
    if (!options_.quiet) display_.show(rows(), true);
    display_.close();
    printTable();
    if (interrupted) {
      env_.err << "Stopped.\n";
      return exitStopped;
    }
    const auto found = [](const Member& m) { return m.found; };
    if (std::none_of(members_.begin(), members_.end(), found)) {
      asker_.showMessage(notFoundMessage(SearchResult{}));
      return exitNoDevice;
    }
    const bool all = std::all_of(members_.begin(), members_.end(),
                                 [](const Member& m) { return m.outcome == "completed"; });
    return all ? exitComplete : exitTransferFailed;
  }

  void printTable() {
    std::vector<FleetResult> results;
    for (const Member& m : members_) {
      const unsigned done = m.state.currentBlock - m.state.firstBlock;
      char seconds[32] = "";
      if (m.found && m.ended > m.began)
        std::snprintf(seconds, sizeof seconds, "%.1f s",
                      std::chrono::duration<double>(m.ended - m.began).count());
      results.push_back(
          {m.shown.empty() ? m.port : m.shown, m.versions.empty() ? "-" : m.versions, m.outcome,
           m.found ? std::to_string(done) + "/" + std::to_string(done + m.state.blocksLeft) : "-",
           seconds, m.sha256});
    }
    env_.out << fleetTable(results);
    env_.out.flush();
  }

  const Options& options_;
  Environment& env_;
  SessionLog* log_;
  TerminalOperator asker_;              // the run's own questions and boxes
  std::deque<Member> members_;          // never moved: the loop holds their states
  std::vector<std::string> simulated_;  // the simulated devices' ports
  FleetDisplay display_{env_.err, env_.console.errorIsTerminal() && !options_.quiet,
                        [this] { return env_.console.errorColumns(); }};
};

}  // namespace

std::string withPortName(const std::string& pattern, const std::string& portName) {
  std::string name = pattern;
  for (auto at = name.find(portPlaceholder); at != std::string::npos;
       at = name.find(portPlaceholder, at + portName.size()))
    name.replace(at, portPlaceholder.size(), portName);
  return name;
}

int runFleet(const Options& options, Environment& env, SessionLog* log) {
  Fleet fleet(options, env, log);
  return fleet.run();
}

}  // namespace morva::cli
