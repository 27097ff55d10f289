// The transfer's progress on a terminal: a bar redrawn in place; elsewhere a plain line at
// every tenth of the session.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

namespace morva::cli {

struct ProgressFigures {
  int done = 0;   // blocks completed
  int total = 0;  // blocks in the session
  double seconds = 0;
};

// "[########            ]  40%  205/512 blocks  13.1 kB/s  0:05 left"
std::string progressLine(const ProgressFigures& f, int barWidth = 24);

class Progress {
 public:
  Progress(std::ostream& out, bool terminal, std::string title);
  // Starts the clock: the first block command follows the device's identification.
  void start();
  void update(int done, int total);
  // Leaves the line as it stands, ready for a message below it.
  void clear();
  void finish(int done, int total);

 private:
  double elapsed() const;

  std::ostream& out_;
  bool terminal_;
  std::string title_;
  bool started_ = false;
  bool lineOpen_ = false;
  int lastTenth_ = -1;
  std::chrono::steady_clock::time_point begin_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace morva::cli
