// The transfer's progress on a terminal: one line redrawn in place, never wider than the
// terminal; elsewhere a plain line at every tenth of the session.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace morva::cli {

struct ProgressFigures {
  int done = 0;   // blocks completed
  int total = 0;  // blocks in the session
  double seconds = 0;
};

// "[########            ]  40%  205/512 blocks  13.1 kB/s  0:05 left"; a bar of `barWidth`
// (0: none), and the rate only when asked for and known.
std::string progressLine(const ProgressFigures& f, int barWidth = 24, bool withRate = true);

// The widest form of "TITLE  progressLine" that fits in `columns` (0: no limit): first the
// rate goes, then half the bar, then the title, then the bar; what still does not fit is cut.
// The last column stays free, as some terminals wrap on it.
std::string fittedProgress(const std::string& title, const ProgressFigures& f, int columns);

class Progress {
 public:
  // `columns` tells the terminal's width at each redraw (0: unknown).
  Progress(
      std::ostream& out, bool terminal, std::string title,
      std::function<int()> columns = [] { return 0; });
  // Starts the clock.
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
  std::function<int()> columns_;
  bool started_ = false;
  bool lineOpen_ = false;
  int lastTenth_ = -1;
  std::chrono::steady_clock::time_point begin_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace morva::cli
