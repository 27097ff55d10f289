#include "frontends/cli/options.h"

#include <map>

namespace morva::cli {
namespace {

const std::map<std::string, Direction> directions = {
    {"write", Direction::WriteToDevice},
    {"read", Direction::ReadFromDevice},
    {"verify", Direction::Verify},
};
const std::map<std::string, DataKind> kinds = {
    {"program", DataKind::FirmwareUpgrade},
    {"libraries", DataKind::FixtureLibraries},
    {"user", DataKind::UserData},
};

ParseResult refuse(std::string why) {
  return {std::nullopt, std::move(why)};
}

// The value of an option that takes one: "--port PATH" or "--port=PATH".
bool takeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& value, std::string& error) {
  const std::string& a = args[i];
  if (a.rfind(name + "=", 0) == 0) {
    value = a.substr(name.size() + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  }
  if (value.empty()) error = "option " + name + " needs a value";
  return !value.empty();
}

bool named(const std::string& arg, const std::string& name) {
  return arg == name || arg.rfind(name + "=", 0) == 0;
}

// Takes the option at args[i] (and its value, if it has one); false with `error` otherwise.
bool takeOption(const std::vector<std::string>& args, std::size_t& i, Options& o,
                std::string& error) {
  const std::string& a = args[i];
  if (named(a, "--port")) {
    std::string port;
    if (!takeValue(args, i, "--port", port, error)) return false;
    o.ports.push_back(port);
  } else if (named(a, "--backup")) {
    return takeValue(args, i, "--backup", o.backup, error);
  } else if (a == "--yes" || a == "-y") {
    o.yes = true;
  } else if (a == "--trace") {
    o.trace = true;
  } else if (a == "--simulate") {
    o.simulate = true;
  } else if (a.rfind("--simulate=", 0) == 0) {
    const std::string count = a.substr(11);
    const bool digits = !count.empty() && count.size() <= 2 &&
                        count.find_first_not_of("0123456789") == std::string::npos;
    o.simulated = digits ? std::stoi(count) : 0;
    if (o.simulated < 1 || o.simulated > mostSimulated) {
      error =
          "--simulate=N takes a number of controllers from 1 to " + std::to_string(mostSimulated);
      return false;
    }
    o.simulate = true;
  } else if (a == "--all") {
    o.all = true;
  } else if (named(a, "--log")) {
    return takeValue(args, i, "--log", o.log, error);
  } else if (a == "--simulate-reset") {
    o.simulate = o.simulateReset = true;
  } else if (a == "--quiet" || a == "-q") {
    o.quiet = true;
  } else if (a == "--verify") {
    o.verifyAfter = true;
  } else {
    error = "unknown option '" + a + "'";
    return false;
  }
  return true;
}

// The first word past the `expected` ones, named in the refusal.
ParseResult tooMany(const std::vector<std::string>& words, std::size_t expected) {
  return refuse("unexpected argument '" + words[expected] + "'");
}

// --all runs one session per port: a file read into must name each port's own, and the
// options that make several controllers go with it alone.
ParseResult checkAll(const Options& o) {
  if (o.simulated > 1 && !o.all) return refuse("--simulate=N goes with --all");
  if (!o.all) return {o, {}};
  if (o.command != Command::Transfer && o.command != Command::Detect)
    return refuse("--all goes with write, read, verify and detect");
  if (o.trace) return refuse("--trace goes with one port, not --all");
  const bool reads = o.command == Command::Transfer && o.direction == Direction::ReadFromDevice;
  if (reads && o.file.find(portPlaceholder) == std::string::npos)
    return refuse(
        "with --all, read needs {port} in FILE (one file per port, e.g. show-{port}.usr)");
  if (!o.backup.empty() && o.backup.find(portPlaceholder) == std::string::npos)
    return refuse("with --all, --backup needs {port} in its name (one file per port)");
  return {o, {}};
}

ParseResult interpret(const std::vector<std::string>& words, Options o) {
  if (words.empty()) return refuse("no command given");
  const std::string& verb = words[0];
  if (verb == "help") {
    o.command = Command::Help;
  } else if (verb == "log") {
    if (words.size() < 2) return refuse("log needs the FILE of a log");
    if (words.size() > 2) return tooMany(words, 2);
    o.command = Command::Log;
    o.logToShow = words[1];
  } else if (verb == "ports" || verb == "detect") {
    if (words.size() > 1) return tooMany(words, 1);
    o.command = verb == "ports" ? Command::Ports : Command::Detect;
  } else if (auto d = directions.find(verb); d != directions.end()) {
    if (words.size() < 2)
      return refuse(verb + " needs a kind (program, libraries, user) and a FILE");
    auto k = kinds.find(words[1]);
    if (k == kinds.end()) return refuse("unknown kind '" + words[1] + "'");
    if (words.size() < 3) return refuse(verb + " " + words[1] + " needs a FILE");
    if (words.size() > 3) return tooMany(words, 3);
    if (words[2].empty()) return refuse("FILE must not be empty");
    o.command = Command::Transfer;
    o.direction = d->second;
    o.kind = k->second;
    o.file = words[2];
  } else {
    return refuse("unknown command '" + verb + "'");
  }
  if ((o.verifyAfter || !o.backup.empty()) &&
      (o.command != Command::Transfer || o.direction != Direction::WriteToDevice))
    return refuse(std::string(o.verifyAfter ? "--verify" : "--backup") + " goes with write only");
  return checkAll(o);
}

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> words;
  bool onlyWords = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyWords || a.empty() || a[0] != '-' || a == "-") {
      words.push_back(a);
    } else if (a == "--") {
      onlyWords = true;
    } else if (a == "--help" || a == "-h") {
      o.command = Command::Help;
      return {o, {}};
    } else if (a == "--version") {
      o.command = Command::Version;
      return {o, {}};
    } else if (std::string error; !takeOption(args, i, o, error)) {
      return refuse(error);
    }
  }
  return interpret(words, o);
}

std::string usageError(const std::string& error) {
  return "morva-cli: " + error + "\nTry 'morva-cli --help'.\n";
}

std::string usageText() {
  return R"(Usage:
  morva-cli ports [--port PATH]... [--simulate]
  morva-cli detect [--port PATH]...
  morva-cli write|read|verify program|libraries|user FILE [--port PATH]... [--yes]
  morva-cli write KIND FILE [--backup OLD] [--verify]
  morva-cli write|read|verify|detect ... --all [--port PATH]... [--simulate=N]
  morva-cli log FILE

Moves data between this computer and the Vk350 Morva controller over a serial port.
  write    sends FILE into the device
  read     reads the device's memory into FILE
  verify   compares FILE with the device's memory
  program    firmware upgrade, blocks 0-511 (*.upg)
  libraries  fixture libraries, blocks 512-895 (*.lib)
  user       user data, blocks 896-4095 (*.usr or *.bin)

Options:
  --port PATH      use this port (a device path, a pty, a symlink) instead of searching the
                   listed serial ports; may be given more than once
  --simulate       use a simulated Vk350 instead of a serial port; its memory is kept between
                   runs in $XDG_STATE_HOME/morva (~/.local/state/morva)
  --simulate-reset the same, starting from an empty memory
  --yes, -y        answer Yes to questions (overwrite FILE, continue past a difference)
  --backup OLD     write: first read the device's blocks into OLD; write only if that read
                   completed
  --verify         write: verify FILE against the device once it is written
  --all            every port of the list where a Vk350 answers, side by side (all
                   probed at once); with read and --backup, {port} in the file's name
                   stands for the port's name without its folder: show-{port}.usr
  --simulate=N     with --all: N simulated controllers, each with its own kept memory
  --log FILE       append one JSON line per session to FILE (start, end, program,
                   port, versions, kind, direction, file, bytes, sha256, blocks,
                   blocks_done, outcome, message); runs may share one log
  log FILE         print such a log as a table, newest last
  --trace          print every frame on the wire in hex
  --quiet, -q      no progress display
  --help           this text;  --version  the program's version
  --               the arguments after it are not options (a FILE named -x.upg)

Questions are asked on a terminal; without one (and without --yes) the default answer,
No, is taken. With --yes a verification lists its first 10 differences, then counts them.
With --all the questions are asked once, for every port, before the sessions start, and a
verification's differences are counted per port; a table ends the run.

Exit status (with --all: 0 only when every port completed, 3 when no Vk350 answered):
  0    the session completed (verify: and no difference was found)
  1    the transfer failed, was declined, or verify found differences; or the
       output could not be written; or (--simulate) the simulated Vk350's memory
       could not be saved; or a session's record could not be added to the --log
  2    bad usage
  3    no serial port, or the Vk350 was not found
  4    the session could not start (file missing, wrong extension, not overwritten, ...)
  130  stopped with Ctrl-C
)";
}

}  // namespace morva::cli
