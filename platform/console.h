// The terminal the command-line tool runs in: whether a person is there to answer, and
// whether the operator asked to stop (Ctrl-C).
#pragma once

#include <optional>
#include <string>

namespace morva {

class Console {
 public:
  virtual ~Console() = default;
  virtual bool inputIsTerminal() const = 0;
  virtual bool errorIsTerminal() const = 0;
  // One line typed by the operator, without its newline; none at end of input.
  virtual std::optional<std::string> readLine() = 0;
  // True once the operator asked to stop; waits on the port return early when that happens.
  virtual bool stopRequested() const = 0;
  // The width of the terminal the errors go to, asked afresh each time (it may be resized);
  // 0 when it is not known.
  virtual int errorColumns() const { return 0; }
  // Whether the terminal the errors go to takes escape codes (erase to the end of the line).
  virtual bool errorTakesEscapes() const { return true; }
};

}  // namespace morva
