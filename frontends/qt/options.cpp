#include "frontends/qt/options.h"

namespace morva::qt {

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE"; advances `i` past it.
std::optional<std::string> valueOf(const std::string& name, const std::vector<std::string>& args,
                                   std::size_t& i, std::string& error) {
  const std::string& arg = args[i];
  if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
    std::string value = arg.substr(name.size() + 1);
    if (value.empty()) error = name + " needs a value";
    return value.empty() ? std::nullopt : std::optional(value);
  }
  if (i + 1 >= args.size() || args[i + 1].empty()) {
    error = name + " needs a value";
    return std::nullopt;
  }
  return args[++i];
}

bool named(const std::string& arg, const std::string& name) {
  return arg == name || arg.rfind(name + "=", 0) == 0;
}

}  // namespace

GuiParse parseGuiOptions(const std::vector<std::string>& args) {
  GuiOptions options;
  std::string error;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (named(arg, "--port")) {
      auto value = valueOf("--port", args, i, error);
      if (!value) return {std::nullopt, error};
      options.ports.push_back(*value);
    } else if (named(arg, "--screenshot")) {
      auto value = valueOf("--screenshot", args, i, error);
      if (!value) return {std::nullopt, error};
      options.screenshot = *value;
    } else if (named(arg, "--log")) {
      auto value = valueOf("--log", args, i, error);
      if (!value) return {std::nullopt, error};
      options.log = *value;
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else {
      return {std::nullopt, "unknown argument: " + arg};
    }
  }
  return {options, {}};
}

std::string guiUsageText() {
  return "Usage: morva [--port PATH]... [--simulate] [--log FILE] [--screenshot FILE]\n"
         "       morva --help | --version\n"
         "\n"
         "  --port PATH        also list PATH as a serial port (a port the machine's list\n"
         "                     cannot show, such as a pseudo-terminal); may be repeated\n"
         "  --simulate         run a simulated Vk350 inside the program and list its port\n"
         "  --log FILE         append one JSON line per session to FILE (as morva-cli --log)\n"
         "  --screenshot FILE  write a firmware image into the simulated Vk350, render the\n"
         "                     main window part-way through to the PNG FILE, and end\n";
}

}  // namespace morva::qt
