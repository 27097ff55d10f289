// morva-cli run in this process over any serial port, as a script runs it: what it printed and
// how it ended.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "frontends/cli/cli_app.h"
#include "platform/posix/file_service.h"
#include "platform/posix/serial_port.h"
#include "tests/support/quiet_console.h"
#include "transfer/serial_port.h"

namespace morva::testing {

struct CliResult {
  int status = -1;  // also when the arguments were refused (`err` then says why)
  std::string out;
  std::string err;

  // The "Caption: text" line the tool printed for a message box.
  bool said(const std::string& caption, const std::string& text) const {
    return err.find(caption + ": " + text + "\n") != std::string::npos;
  }
};

// Runs "morva-cli ARGS --port PORTPATH [--yes]" over `port`, at a console with nobody at it
// unless one is given.
inline CliResult runCliOver(SerialPort& port, const std::string& portPath,
                            std::vector<std::string> args, bool yes = false,
                            Console* console = nullptr) {
  args.push_back("--port");
  args.push_back(portPath);
  if (yes) args.push_back("--yes");
  CliResult result;
  const cli::ParseResult parsed = cli::parseOptions(args);
  if (!parsed.options) {
    result.err = parsed.error;
    return result;
  }
  std::ostringstream out, err;
  ListedPorts lister;
  QuietConsole quiet;
  PosixFileService files;
  cli::Environment env{port, lister, files, console != nullptr ? *console : quiet, out, err, {}, {}, {},
                       [] { return std::make_unique<PosixSerialPort>(); }};
  result.status = cli::runCli(*parsed.options, env);
  result.out = out.str();
  result.err = err.str();
  return result;
}

}  // namespace morva::testing
