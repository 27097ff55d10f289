// --all: the session on every port of the list where a Vk350 answers, side by side in one
// process, one loop waiting on every port at once; a row per port, a table at the end.
#pragma once

#include "frontends/cli/cli_app.h"
#include "frontends/cli/options.h"
#include "record/session_log_file.h"

namespace morva::cli {

// `log`, when open, gets the record of every session. The exit status: 0 only when every port
// completed, 3 when no Vk350 answered on any, 130 after Ctrl-C, else 1 (or a refusal's).
int runFleet(const Options& options, Environment& env, SessionLog* log);

// A file name for one port: every "{port}" in `pattern` stands for `portName`.
std::string withPortName(const std::string& pattern, const std::string& portName);

}  // namespace morva::cli
