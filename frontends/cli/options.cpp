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

// Takes the option at args[i] (and its value, if it has one); false for an unknown option.
bool takeOption(const std::vector<std::string>& args, std::size_t& i, Options& o,
                std::string& error) {
  const std::string& a = args[i];
  if (a == "--port") {
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      error = "--port needs a path";
      return false;
    }
    o.ports.push_back(args[++i]);
  } else if (a.rfind("--port=", 0) == 0 && a.size() > 7) {
    o.ports.push_back(a.substr(7));
  } else if (a == "--yes" || a == "-y") {
    o.yes = true;
  } else if (a == "--trace") {
    o.trace = true;
  } else if (a == "--simulate") {
    o.simulate = true;
  } else if (a == "--quiet" || a == "-q") {
    o.quiet = true;
  } else {
    error = "unknown option " + a;
    return false;
  }
  return true;
}

ParseResult interpret(const std::vector<std::string>& words, Options o) {
  if (words.empty()) return refuse("no command given");
  const std::string& verb = words[0];
  auto expect = [&](std::size_t n) { return words.size() == n; };
  if (verb == "help") {
    o.command = Command::Help;
  } else if (verb == "ports") {
    if (!expect(1)) return refuse("ports takes no arguments");
    o.command = Command::Ports;
  } else if (verb == "detect") {
    if (!expect(1)) return refuse("detect takes no arguments");
    o.command = Command::Detect;
  } else if (auto d = directions.find(verb); d != directions.end()) {
    if (!expect(3)) return refuse(verb + " needs a kind (program, libraries, user) and a FILE");
    auto k = kinds.find(words[1]);
    if (k == kinds.end()) return refuse("unknown kind " + words[1]);
    if (words[2].empty()) return refuse("FILE must not be empty");
    o.command = Command::Transfer;
    o.direction = d->second;
    o.kind = k->second;
    o.file = words[2];
  } else {
    return refuse("unknown command " + verb);
  }
  return {o, {}};
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

std::string usageText() {
  return R"(Usage:
  morva-cli ports
  morva-cli detect [--port PATH]...
  morva-cli write|read|verify program|libraries|user FILE [--port PATH]... [--yes]

Moves data between this computer and the Vk350 Morva controller over a serial port.
  write    sends FILE into the device
  read     reads the device's memory into FILE
  verify   compares FILE with the device's memory
  program    firmware upgrade, blocks 0-511 (*.upg)
  libraries  fixture libraries, blocks 512-895 (*.lib)
  user       user data, blocks 896-4095 (*.usr or *.bin)

Options:
  --port PATH   use this port (a device path, a pty, a symlink) instead of searching the
                listed serial ports; may be given more than once
  --simulate    use a simulated Vk350 instead of a serial port
  --yes, -y     answer Yes to questions (overwrite FILE, continue past a difference)
  --trace       print every frame on the wire in hex
  --quiet, -q   no progress display
  --help        this text;  --version  the program's version

Questions are asked on a terminal; without one (and without --yes) the default answer,
No, is taken.

Exit status:
  0    the session completed (verify: and no difference was found)
  1    the transfer failed, was declined, or verify found differences; or the
       output could not be written
  2    bad usage
  3    no serial port, or the Vk350 was not found
  4    the session could not start (file missing, wrong extension, not overwritten, ...)
  130  stopped with Ctrl-C
)";
}

}  // namespace morva::cli
