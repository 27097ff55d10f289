#include "sim/program_options.h"

#include <charconv>

namespace morva::sim {
namespace {

std::optional<unsigned> parseSmallNumber(std::string_view text, unsigned limit) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value > limit) return std::nullopt;
  return value;
}

bool setVersion(std::string_view text, std::uint8_t& major, std::uint8_t& minor) {
  const auto version = parseVersion(text);
  if (!version) return false;
  major = version->first;
  minor = version->second;
  return true;
}

// Applies one option that takes a value; false when the value is not good for it.
bool applyValue(std::string_view name, std::string_view value, ProgramOptions& options) {
  SimulatorOptions& sim = options.simulator;
  Identification& id = sim.identification;
  if (name == "--link") {
    options.linkPath = value;
    return !value.empty();
  }
  if (name == "--memory") {
    sim.memoryFile = value;
    return !value.empty();
  }
  if (name == "--firmware") return setVersion(value, id.firmwareMajor, id.firmwareMinor);
  if (name == "--second") return setVersion(value, id.secondMajor, id.secondMinor);
  if (name == "--latency") {
    const auto ms = parseSmallNumber(value, 600000);
    if (ms) sim.answerLatency = std::chrono::milliseconds(*ms);
    return ms.has_value();
  }
  if (name == "--fault") {
    const auto fault = parseFault(value);
    if (fault) sim.faults.push_back(*fault);
    return fault.has_value();
  }
  return false;
}

bool takesValue(std::string_view name) {
  return name == "--link" || name == "--memory" || name == "--firmware" || name == "--second" ||
         name == "--latency" || name == "--fault";
}

}  // namespace

std::optional<std::pair<std::uint8_t, std::uint8_t>> parseVersion(std::string_view text) {
  const auto dot = text.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const auto major = parseSmallNumber(text.substr(0, dot), 255);
  const auto minor = parseSmallNumber(text.substr(dot + 1), 255);
  if (!major || !minor) return std::nullopt;
  return std::pair{static_cast<std::uint8_t>(*major), static_cast<std::uint8_t>(*minor)};
}

std::optional<ProgramOptions> parseProgramOptions(std::span<const std::string_view> args,
                                                  std::string& error) {
  ProgramOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::optional<std::string_view> value;
    if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    if ((name == "--help" || name == "-h") && !value) {
      options.help = true;
    } else if (name == "--version" && !value) {
      options.version = true;
    } else if (name == "--paced" && !value) {
      options.simulator.paced = true;
    } else if (name == "--trace" && !value) {
      options.trace = true;
    } else if (takesValue(name)) {
      if (!value && i + 1 == args.size()) {
        error = std::string(name) + " needs a value";
        return std::nullopt;
      }
      const std::string_view text = value ? *value : args[++i];
      if (!applyValue(name, text, options)) {
        error = "bad value for " + std::string(name) + ": " + std::string(text);
        return std::nullopt;
      }
    } else {
      error = "unknown option: " + std::string(args[i]);
      return std::nullopt;
    }
  }
  return options;
}

std::string programUsage() {
  return R"(Usage: vk350-sim [options]
A simulated Vk350 Morva controller on a pseudo-terminal. Prints the port's path on one line,
then answers the PC until SIGINT, SIGTERM or SIGHUP.

  --link PATH        also make PATH a symbolic link to the port (removed at exit)
  --memory FILE      load the 1 MiB memory image from FILE if it exists; save it at exit
                     (SIGINT, SIGTERM or SIGHUP); one simulator at a time holds FILE
  --firmware M.NN    first version pair (default 2.05)
  --second M.NN      second version pair (default 1.10)
  --paced            move bytes at the real rate of 38400 baud, both ways
  --latency MS       answer every frame MS milliseconds after it arrived
  --trace            print every frame in hex on stderr
  --fault FAULT      commit a fault; may be given several times
  --help             this text;  --version  the program's version

FAULT is ACTION@STEP[:BLOCK][=VALUE][/once]
  STEP    wakeup (the identification), command (the answer to a block command),
          data (the answer to a written data frame, or the data frame of a read)
  BLOCK   only at this block number (default: every block)
  ACTION  nak, illegal[=BYTE] (0x41), silence, short[=COUNT] (wakeup 4, data 200),
          corrupt[=BYTE] (checksum off by 1), pause[=MS] (80, in the middle of the answer),
          hold[=COUNT] (send COUNT bytes, default 0, print "held: ..." on stdout and send
          the rest when SIGUSR1 comes),
          late[=MS] (150), twice, garbage[=COUNT] (3 junk bytes first),
          vanish[=COUNT] (close the line after COUNT bytes of the answer, default 0)
  /once   fire only the first time
Examples: --fault nak@command:5  --fault short@data:3=200  --fault pause@data:0=250
)";
}

}  // namespace morva::sim
