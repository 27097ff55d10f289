// Why an OS call failed, as the core reports it: the serial port and the data files alike.
#pragma once

#include <string>
#include <utility>

namespace morva {

// Why an OS call failed. The number is what "Error code : N" shows; the cause lets the front
// ends explain the common cases (another program holds the port, no permission).
enum class FailureCause { None, Busy, PermissionDenied, NotFound, NotATerminal, Vanished, Other };

struct OsError {
  OsError() = default;
  OsError(int number, std::string text, FailureCause cause, std::string advice = {})
      : number(number), text(std::move(text)), cause(cause), advice(std::move(advice)) {}

  int number = 0;
  std::string text;
  FailureCause cause = FailureCause::None;
  std::string advice;  // what the person at the machine can do about it, where the OS knows
  bool operator==(const OsError&) const = default;
};

// "NAME: the OS's text", then the advice on a line of its own where there is one: the detail of
// a box about a port or a file.
inline std::string describeFailure(const std::string& name, const OsError& error) {
  std::string text =
      name + ": " + (error.text.empty() ? "error " + std::to_string(error.number) : error.text);
  if (!error.advice.empty()) text += "\n" + error.advice;
  return text;
}

}  // namespace morva
